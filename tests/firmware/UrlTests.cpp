#include "TavrikCore/Support/Url.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tavrik {
namespace {

TEST(Url, ParseKeepsWebTextAndStandardisesFileUrls)
{
    struct Case {
        const char* text;
        const char* absolute;
        const char* scheme;
        const char* path;
        const char* last;
    };
    const Case cases[] = {
        { "https://fw.example/a/stable.json", "https://fw.example/a/stable.json", "https", "/a/stable.json",
            "stable.json" },
        { "HTTP://fw.example/x.bin", "HTTP://fw.example/x.bin", "http", "/x.bin", "x.bin" },
        { "https://fw.example/a/../b/x.bin", "https://fw.example/a/../b/x.bin", "https", "/a/../b/x.bin", "x.bin" },
        { "file:///srv/fw/./builds/../channel.json", "file:///srv/fw/channel.json", "file", "/srv/fw/channel.json",
            "channel.json" },
        { "https://fw.example/dir/", "https://fw.example/dir/", "https", "/dir", "dir" },
        { "https://fw.example/", "https://fw.example/", "https", "/", "/" },
        { "https://fw.example", "https://fw.example", "https", "", "" },
        { "https://fw.example/my%20build.bin", "https://fw.example/my%20build.bin", "https", "/my build.bin",
            "my build.bin" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto url = Url::parse(c.text);
        ASSERT_TRUE(url.has_value());
        EXPECT_EQ(url->absoluteString(), c.absolute);
        EXPECT_EQ(url->scheme(), c.scheme);
        EXPECT_EQ(url->path(), c.path);
        EXPECT_EQ(url->lastPathComponent(), c.last);
    }
    for (const char* text : { "", "fw.bin", "/srv/fw/x.bin", "https://fw.example/a b.bin", "//fw.example/x" }) {
        EXPECT_FALSE(Url::parse(text).has_value()) << text;
    }
}

TEST(Url, ResolvesReferencesAgainstTheirDocument)
{
    const Url web = *Url::parse("https://fw.example/a/stable.json");
    const Url file = *Url::parse("file:///srv/fw/channel.json");
    struct Case {
        const Url* base;
        const char* text;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        { &web, "fw-s3.bin", "https://fw.example/a/fw-s3.bin" },
        { &web, "releases/1.4.0.json", "https://fw.example/a/releases/1.4.0.json" },
        { &web, "../bin/fw.bin", "https://fw.example/bin/fw.bin" },
        { &web, "/root.bin", "https://fw.example/root.bin" },
        { &web, "//cdn.example/fw.bin", "https://cdn.example/fw.bin" },
        { &web, "https://other.example/fw.bin", "https://other.example/fw.bin" },
        { &web, "file:///tmp/./x/../fw.bin", "file:///tmp/fw.bin" },
        { &file, "releases/1.4.0.json", "file:///srv/fw/releases/1.4.0.json" },
        { &file, "../out/fw.bin", "file:///srv/out/fw.bin" },
        { &web, "", std::nullopt },
        { &web, "a b.bin", std::nullopt },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto url = Url::resolve(c.text, *c.base);
        ASSERT_EQ(url.has_value(), c.expected.has_value());
        if (url) {
            EXPECT_EQ(url->absoluteString(), *c.expected);
        }
    }
}

} // namespace
} // namespace tavrik
