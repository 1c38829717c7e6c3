#include "TavrikLink/Support/AppOptions.hpp"
#include "TavrikLink/Support/AppVersion.hpp"

#include <gtest/gtest.h>

namespace tavrik::test {
namespace {

TEST(AppOptionsTests, ReadsTheCommandLine)
{
    struct Case {
        QStringList arguments;
        std::optional<AppOptions> options;
        int exitStatus;
    };
    const std::vector<Case> cases {
        { { "tavrik-link" }, AppOptions { .demo = false }, 0 },
        { { "tavrik-link", "--demo" }, AppOptions { .demo = true }, 0 },
        { { "tavrik-link", "--help" }, std::nullopt, 0 },
        { { "tavrik-link", "--version" }, std::nullopt, 0 },
        { { "tavrik-link", "--dem" }, std::nullopt, 2 },
        { { "tavrik-link", "--demo=yes" }, std::nullopt, 2 },
        { { "tavrik-link", "demo" }, std::nullopt, 2 },
        // Qt's own options are left to the application object.
        { { "tavrik-link", "-platform", "offscreen", "--demo" }, AppOptions { .demo = true }, 0 },
        { { "tavrik-link", "-style", "Fusion", "-reverse" }, AppOptions { .demo = false }, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const AppCommandLine parsed = parseAppCommandLine(c.arguments);
        EXPECT_EQ(parsed.options, c.options);
        EXPECT_EQ(parsed.exitStatus, c.exitStatus);
        EXPECT_EQ(parsed.message.isEmpty(), c.options.has_value());
    }
    EXPECT_TRUE(
        parseAppCommandLine({ "tavrik-link", "--version" }).message.contains(QString::fromStdString(tavrikAppVersion())));
}

} // namespace
} // namespace tavrik::test
