#include "TavrikCore/Firmware/FirmwareCatalogDecoder.hpp"
#include "TavrikCore/Firmware/FirmwareManifestError.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace tavrik {
namespace {

const Url webChannel = *Url::parse("https://fw.example/a/stable.json");
const Url fileChannel = *Url::parse("file:///srv/fw/channel.json");

Url url(const char* text)
{
    return *Url::parse(text);
}

FirmwareCatalog decode(const std::string& channel, const Url& channelURL = webChannel,
    const std::optional<std::string>& release = std::nullopt)
{
    return FirmwareCatalogDecoder::decode(
        dataFromString(channel), channelURL, release ? std::optional<Data>(dataFromString(*release)) : std::nullopt);
}

// The user text of the FirmwareManifestError `action` throws, or "" when it throws none.
std::string manifestError(const std::function<void()>& action)
{
    try {
        action();
    } catch (const FirmwareManifestError& error) {
        return error.what();
    }
    return "";
}

TEST(FirmwareCatalogDecoder, ResolvesRelativeImagesAgainstTheChannel)
{
    const FirmwareCatalog catalog = decode(R"({"channel":"stable","version":"1.4.0",
        "binaryAssets":{"m5stick-s3":{"url":"fw-s3.bin","sizeBytes":10,"sha256":"ab"}}})");

    EXPECT_EQ(catalog.version, "1.4.0");
    EXPECT_EQ(catalog.channel, "stable");
    EXPECT_EQ(catalog.sourceURL, webChannel);
    EXPECT_EQ(catalog.manifestURL, webChannel);
    ASSERT_EQ(catalog.binaryAssets.size(), 1U);
    EXPECT_EQ(catalog.binaryAssets.at("m5stick-s3"),
        (FirmwareFactoryAsset {
            .url = url("https://fw.example/a/fw-s3.bin"), .fileName = "fw-s3.bin", .sizeBytes = 10, .sha256 = "ab" }));
    EXPECT_TRUE(catalog.factoryAssets.empty());
    EXPECT_FALSE(catalog.isLocal());
    EXPECT_EQ(catalog.sourceDescription(), "Published HTTPS");

    EXPECT_EQ(manifestError([&] { catalog.asset(FirmwareHardwareTarget::m5StickC); }),
        "No firmware build for target 'm5stick-c' in /a/stable.json. Run the local firmware build for all OTA targets "
        "or "
        "publish the missing asset.");
}

TEST(FirmwareCatalogDecoder, AssetForEachTargetCarriesTheRelease)
{
    const FirmwareCatalog catalog = decode(R"({"channel":"beta","version":"2.0.0",
        "minimumTavrikLinkVersion":"1.0","maximumTavrikLinkVersion":"3.0",
        "binaryAssets":{
            "m5stick-c":{"target":"ignored","url":"ota/c.bin","sizeBytes":1,"sha256":"c1"},
            "m5stick-s3":{"url":"https://cdn.example/s3.bin","fileName":"Stick S3.bin","sizeBytes":2,"sha256":"c2"},
            "t-embed-cc1101":{"url":"/abs/t.bin","sizeBytes":3,"sha256":"c3"}},
        "factoryAssets":{"m5stick-c":{"url":"factory/c.bin","sizeBytes":40,"sha256":"f1"}}})");

    struct Case {
        FirmwareHardwareTarget target;
        const char* url;
        const char* fileName;
        std::int64_t size;
        const char* sha;
    };
    const Case cases[] = {
        { FirmwareHardwareTarget::m5StickC, "https://fw.example/a/ota/c.bin", "c.bin", 1, "c1" },
        { FirmwareHardwareTarget::m5StickS3, "https://cdn.example/s3.bin", "Stick S3.bin", 2, "c2" },
        { FirmwareHardwareTarget::tEmbedCc1101, "https://fw.example/abs/t.bin", "t.bin", 3, "c3" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(rawValue(c.target));
        const FirmwareAsset expected {
            .url = url(c.url),
            .fileName = c.fileName,
            .version = "2.0.0",
            .target = c.target,
            .sizeBytes = c.size,
            .sha256 = c.sha,
            .factoryAssets = { { "m5stick-c",
                FirmwareFactoryAsset { .url = url("https://fw.example/a/factory/c.bin"),
                    .fileName = "c.bin",
                    .sizeBytes = 40,
                    .sha256 = "f1" } } },
            .minimumTavrikLinkVersion = "1.0",
            .maximumTavrikLinkVersion = "3.0",
            .sourceDescription = "Published HTTPS",
            .channel = "beta",
            .manifestURL = webChannel,
        };
        EXPECT_EQ(catalog.asset(c.target), expected);
    }
}

TEST(FirmwareCatalogDecoder, ReadsTheReleaseManifestTheChannelNames)
{
    const std::string channel = R"({"channel":"stable","currentVersion":"1.3.0","manifestUrl":"releases/1.4.0.json"})";
    const Url releaseURL = url("https://fw.example/a/releases/1.4.0.json");
    EXPECT_EQ(FirmwareCatalogDecoder::releaseURL(dataFromString(channel), webChannel), releaseURL);
    EXPECT_EQ(FirmwareCatalogDecoder::releaseURL(dataFromString(R"({"channel":"stable","manifestUrl":""})"), webChannel),
        std::nullopt);
    EXPECT_EQ(FirmwareCatalogDecoder::releaseURL(dataFromString(R"({"version":"1"})"), webChannel), std::nullopt);

    const FirmwareCatalog catalog = decode(channel, webChannel,
        R"({"version":"1.4.0","channel":"nightly","binaryAssets":{"m5stick-c":{"url":"../bin/fw.bin","sizeBytes":5,"sha256":"ab"}}})");
    EXPECT_EQ(catalog.sourceURL, webChannel);
    EXPECT_EQ(catalog.manifestURL, releaseURL);
    EXPECT_EQ(catalog.channel, "nightly");
    EXPECT_EQ(catalog.binaryAssets.at("m5stick-c").url, url("https://fw.example/a/bin/fw.bin"));
    EXPECT_EQ(catalog.asset(FirmwareHardwareTarget::m5StickC).manifestURL, releaseURL);
}

TEST(FirmwareCatalogDecoder, VersionFallsBackFromReleaseToChannel)
{
    const std::string assets = R"("binaryAssets":{"m5stick-c":{"url":"fw.bin","sizeBytes":5,"sha256":"ab"}})";
    struct Case {
        const char* channelVersion;
        const char* releaseVersions;
        const char* expected;
    };
    const Case cases[] = {
        { R"("currentVersion":"1.0.0",)", R"("version":"1.4.0","currentVersion":"1.3.0",)", "1.4.0" },
        { R"("currentVersion":"1.0.0",)", R"("currentVersion":"1.3.0",)", "1.3.0" },
        { R"("currentVersion":"1.0.0",)", "", "1.0.0" },
        { R"("version":"1.0.0",)", "", nullptr },
        { R"("currentVersion":"1.0.0",)", R"("version":"","currentVersion":"1.3.0",)", nullptr },
        { "", "", nullptr },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.channelVersion) + " / " + c.releaseVersions);
        const std::string channel
            = std::string(R"({"channel":"stable",)") + c.channelVersion + R"("manifestUrl":"r.json"})";
        const std::string release = std::string("{") + c.releaseVersions + assets + "}";
        if (c.expected != nullptr) {
            EXPECT_EQ(decode(channel, webChannel, release).version, c.expected);
        } else {
            EXPECT_EQ(manifestError([&] { decode(channel, webChannel, release); }),
                "Firmware manifest is missing a version.");
        }
    }
}

TEST(FirmwareCatalogDecoder, FlatManifestsDescribeTheFirstBoard)
{
    const FirmwareCatalog legacy = decode(R"({"channel":"stable","version":"1.0.0",
        "url":"old/fw.bin","sizeBytes":100,"sha256":"aa",
        "factoryUrl":"old/factory.bin","factoryFileName":"factory-c.bin","factorySizeBytes":200,"factorySha256":"bb"})");
    ASSERT_EQ(legacy.binaryAssets.size(), 1U);
    EXPECT_EQ(legacy.binaryAssets.at("m5stick-c"),
        (FirmwareFactoryAsset {
            .url = url("https://fw.example/a/old/fw.bin"), .fileName = "fw.bin", .sizeBytes = 100, .sha256 = "aa" }));
    EXPECT_EQ(legacy.factoryAssets.at("m5stick-c"),
        (FirmwareFactoryAsset { .url = url("https://fw.example/a/old/factory.bin"),
            .fileName = "factory-c.bin",
            .sizeBytes = 200,
            .sha256 = "bb" }));

    const FirmwareCatalog preferred = decode(R"({"channel":"stable","version":"1.0.0",
        "binaryUrl":"new.bin","url":"old.bin","fileName":"named.bin","sizeBytes":1,"sha256":"aa"})");
    EXPECT_EQ(preferred.binaryAssets.at("m5stick-c").url, url("https://fw.example/a/new.bin"));
    EXPECT_EQ(preferred.binaryAssets.at("m5stick-c").fileName, "named.bin");

    const FirmwareCatalog keyed
        = decode(R"({"channel":"stable","version":"1.0.0","url":"flat.bin","sizeBytes":1,"sha256":"aa",
        "binaryAssets":{"m5stick-c":{"url":"keyed.bin","sizeBytes":2,"sha256":"bb"}}})");
    ASSERT_EQ(keyed.binaryAssets.size(), 1U);
    EXPECT_EQ(keyed.binaryAssets.at("m5stick-c").fileName, "keyed.bin");

    // Without all three of URL, size and checksum nothing is added, not even an unresolvable URL.
    EXPECT_EQ(manifestError([] { decode(R"({"channel":"stable","version":"1.0.0","url":"a b.bin","sizeBytes":1})"); }),
        "Firmware manifest contains no OTA binary assets.");
}

TEST(FirmwareCatalogDecoder, FileChannelsAreLocalBuilds)
{
    const std::string channel = R"({"channel":"local","manifestUrl":"releases/dev.json"})";
    const std::string release = R"({"version":"0.9.0","binaryAssets":{
        "m5stick-c":{"url":"../build/c.bin","sizeBytes":1,"sha256":"aa"},
        "m5stick-s3":{"url":"file:///opt/fw/s3.bin","sizeBytes":1,"sha256":"bb"},
        "t-embed-cc1101":{"url":"https://fw.example/t.bin","sizeBytes":1,"sha256":"cc"}}})";
    EXPECT_EQ(FirmwareCatalogDecoder::releaseURL(dataFromString(channel), fileChannel),
        url("file:///srv/fw/releases/dev.json"));

    const FirmwareCatalog catalog = decode(channel, fileChannel, release);
    EXPECT_TRUE(catalog.isLocal());
    EXPECT_EQ(catalog.sourceDescription(), "Local builds");
    EXPECT_EQ(catalog.binaryAssets.at("m5stick-c").url, url("file:///srv/fw/build/c.bin"));
    const FirmwareAsset asset = catalog.asset(FirmwareHardwareTarget::m5StickS3);
    EXPECT_EQ(asset.sourceDescription, "Local builds");
    EXPECT_EQ(asset.url, url("file:///opt/fw/s3.bin"));
}

TEST(FirmwareCatalogDecoder, WebManifestsNameOnlyWebUrls)
{
    const auto channelWith = [](const std::string& image) {
        return R"({"channel":"stable","version":"1.0.0","binaryAssets":{"m5stick-c":{"url":")" + image
            + R"(","sizeBytes":1,"sha256":"aa"}}})";
    };
    EXPECT_EQ(decode(channelWith("http://plain.example/fw.bin")).binaryAssets.at("m5stick-c").url,
        url("http://plain.example/fw.bin"));

    struct Case {
        const char* name;
        std::function<void()> action;
        const char* message;
    };
    const Case cases[] = {
        { "file image", [&] { decode(channelWith("file:///etc/passwd")); },
            "Unsupported firmware URL: file:///etc/passwd" },
        { "ftp image", [&] { decode(channelWith("ftp://fw.example/fw.bin")); },
            "Unsupported firmware URL: ftp://fw.example/fw.bin" },
        { "flat file image",
            [] { decode(R"({"channel":"s","version":"1","url":"file:///tmp/fw.bin","sizeBytes":1,"sha256":"aa"})"); },
            "Unsupported firmware URL: file:///tmp/fw.bin" },
        { "file factory image",
            [] {
                decode(R"({"channel":"s","version":"1","url":"fw.bin","sizeBytes":1,"sha256":"aa",
                    "factoryAssets":{"m5stick-c":{"url":"file:///tmp/f.bin","sizeBytes":1,"sha256":"aa"}}})");
            },
            "Unsupported firmware URL: file:///tmp/f.bin" },
        { "file release manifest, resolved",
            [] {
                FirmwareCatalogDecoder::releaseURL(dataFromString(R"({"manifestUrl":"file:///tmp/r.json"})"), webChannel);
            },
            "Unsupported firmware URL: file:///tmp/r.json" },
        { "file release manifest, decoded",
            [] { decode(R"({"channel":"s","manifestUrl":"file:///tmp/r.json"})", webChannel, "{}"); },
            "Unsupported firmware URL: file:///tmp/r.json" },
        { "plain http channel", [&] { decode(channelWith("file:///etc/passwd"), url("http://fw.example/stable.json")); },
            "Unsupported firmware URL: file:///etc/passwd" },
        { "flat factory file image",
            [] {
                decode(R"({"channel":"s","version":"1","url":"fw.bin","sizeBytes":1,"sha256":"aa",
                    "factoryUrl":"file:///tmp/f.bin","factorySizeBytes":1,"factorySha256":"aa"})");
            },
            "Unsupported firmware URL: file:///tmp/f.bin" },
        { "web release of a file channel",
            [&] {
                decode(R"({"channel":"s","manifestUrl":"https://fw.example/r.json"})", fileChannel,
                    channelWith("file:///tmp/x.bin"));
            },
            "Unsupported firmware URL: file:///tmp/x.bin" },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(manifestError(c.action), c.message) << c.name;
    }
}

TEST(FirmwareCatalogDecoder, MalformedManifestTexts)
{
    const std::string release
        = R"({"version":"1","binaryAssets":{"m5stick-c":{"url":"fw.bin","sizeBytes":1,"sha256":"aa"}}})";
    const std::string named = R"({"channel":"stable","manifestUrl":"releases/1.json"})";
    const auto channelData = [](const char* text) { return dataFromString(text); };
    struct Case {
        const char* name;
        std::function<void()> action;
        std::string message;
    };
    const Case cases[] = {
        { "channel not JSON, resolving", [&] { FirmwareCatalogDecoder::releaseURL(channelData("{"), webChannel); },
            "Malformed channel manifest: The data is not valid JSON" },
        { "channel not JSON", [] { decode("{"); },
            "Malformed channel manifest at /a/stable.json: The data is not valid JSON" },
        { "channel at a URL without path", [] { decode("[]", url("https://fw.example")); },
            "Malformed channel manifest at https://fw.example: Expected an object for \"manifest\"" },
        { "channel key of the wrong type", [] { decode(R"({"channel":1})"); },
            "Malformed channel manifest at /a/stable.json: Expected a string for \"channel\"" },
        { "asset entry without checksum",
            [] {
                decode(R"({"channel":"s","version":"1","binaryAssets":{"m5stick-c":{"url":"fw.bin","sizeBytes":1}}})");
            },
            "Malformed channel manifest at /a/stable.json: Missing value for \"sha256\"" },
        { "asset size of the wrong type",
            [] {
                decode(
                    R"({"channel":"s","version":"1","binaryAssets":{"m5stick-c":{"url":"fw.bin","sizeBytes":"1","sha256":"aa"}}})");
            },
            "Malformed channel manifest at /a/stable.json: Expected an integer for \"sizeBytes\"" },
        { "no channel", [&] { decode(R"({"version":"1","url":"fw.bin","sizeBytes":1,"sha256":"aa"})"); },
            "Channel manifest is missing 'channel'." },
        { "empty channel", [&] { decode(R"({"channel":"","manifestUrl":"r.json"})", webChannel, release); },
            "Channel manifest is missing 'channel'." },
        { "release data missing", [&] { decode(named); }, "Release manifest data is missing" },
        { "release not JSON", [&] { decode(named, webChannel, "nope"); },
            "Malformed release manifest at /a/releases/1.json: The data is not valid JSON" },
        { "no images", [] { decode(R"({"channel":"s","version":"1","binaryAssets":{}})"); },
            "Firmware manifest contains no OTA binary assets." },
        { "unresolvable image URL",
            [] {
                decode(
                    R"({"channel":"s","version":"1","binaryAssets":{"m5stick-c":{"url":"a b.bin","sizeBytes":1,"sha256":"aa"}}})");
            },
            "Invalid relative firmware URL 'a b.bin'." },
        { "unresolvable release URL", [] { decode(R"({"channel":"s","manifestUrl":"a b.json"})"); },
            "Invalid relative firmware URL 'a b.json'." },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(manifestError(c.action), c.message) << c.name;
    }
}

TEST(FirmwareManifestError, TextsAndPayloads)
{
    const Url image = url("https://fw.example/builds/fw-s3.bin");
    const FirmwareManifestError http = FirmwareManifestError::http(404, image);
    EXPECT_EQ(http.kind(), FirmwareManifestError::Kind::http);
    EXPECT_EQ(http.statusCode(), 404);
    EXPECT_EQ(http.url(), image);

    const FirmwareManifestError size = FirmwareManifestError::size(image, 10, 12);
    EXPECT_EQ(size.expectedSize(), 10);
    EXPECT_EQ(size.receivedSize(), 12);

    const std::pair<FirmwareManifestError, const char*> cases[] = {
        { FirmwareManifestError::malformed("Anything at all"), "Anything at all" },
        { FirmwareManifestError::unsupportedURL(url("ftp://fw.example/c.json")),
            "Unsupported firmware URL: ftp://fw.example/c.json" },
        { http, "Firmware server returned HTTP 404 for https://fw.example/builds/fw-s3.bin" },
        { FirmwareManifestError::missingTarget("t-embed-cc1101", url("https://fw.example")),
            "No firmware build for target 't-embed-cc1101' in https://fw.example. Run the local firmware build for all "
            "OTA "
            "targets or publish the missing asset." },
        { FirmwareManifestError::checksum(image), "Firmware checksum did not match the manifest for fw-s3.bin." },
        { size, "Firmware size did not match the manifest for fw-s3.bin (expected 10, got 12)." },
    };
    for (const auto& [error, text] : cases) {
        EXPECT_STREQ(error.what(), text);
    }
}

TEST(FirmwareCatalogDecoder, PublishedChannelIsTheStableChannelOverHttps)
{
    const Url& published = FirmwareCatalogDecoder::publishedChannelURL();
    EXPECT_EQ(published.scheme(), "https");
    EXPECT_EQ(published.path(), "/releases/firmware/channels/stable.json");
}

} // namespace
} // namespace tavrik
