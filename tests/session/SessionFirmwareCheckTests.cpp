#include "tests/session/SessionFirmwareTestSupport.hpp"

#include "TavrikCore/Support/Uuid.hpp"

#include <functional>

namespace tavrik::test {
namespace {

using SessionFirmwareCheckTest = SessionFirmwareTest;

TEST_F(SessionFirmwareCheckTest, FindsTheReleaseThroughTheChannelAndReleaseManifests)
{
    loadOverPhysicalLink(deviceData("m5stick-s3"));

    const SessionResponse checking = check();
    ASSERT_TRUE(checking.ok()) << checking.error();
    ASSERT_EQ(checking.effects().size(), 1U) << checking.text;
    const Json channelDownload = downloadOf(checking);
    EXPECT_EQ(channelDownload.at("url"), channelURL());
    EXPECT_TRUE(channelURL().starts_with("https://"));
    EXPECT_TRUE(channelURL().ends_with("/releases/firmware/channels/stable.json"));
    EXPECT_EQ(channelDownload.at("limit"), 1048576);
    EXPECT_EQ(channelDownload.at("generation"), generation());
    EXPECT_TRUE(Uuid::parse(channelDownload.at("requestId").get<std::string>()).has_value());
    EXPECT_EQ(channelDownload,
        sortedJson({ { "type", "download" }, { "url", channelURL() }, { "requestId", channelDownload.at("requestId") },
            { "generation", generation() }, { "limit", 1048576 } }));
    EXPECT_EQ(firmwareState().at("phase"), "checking");
    EXPECT_EQ(firmwareState().at("message"), "Checking published firmware\u2026");
    EXPECT_EQ(firmwareState().at("active"), false);

    const SessionResponse releasing = answer(checking, jsonData(channelManifest()));
    ASSERT_TRUE(releasing.ok()) << releasing.error();
    const Json releaseDownload = downloadOf(releasing);
    EXPECT_EQ(releaseDownload.at("url"), releaseURL());
    EXPECT_EQ(releaseDownload.at("limit"), 1048576);
    EXPECT_NE(releaseDownload.at("requestId"), channelDownload.at("requestId"));
    EXPECT_FALSE(state().contains("firmwareAsset"));

    const SessionResponse offered = answer(releasing, jsonData(releaseManifest()));
    ASSERT_TRUE(offered.ok()) << offered.error();
    EXPECT_TRUE(offered.effects().empty()) << offered.text;
    EXPECT_EQ(state().at("firmwareAsset"),
        Json({ { "channel", "stable" }, { "manifest", releaseURL() }, { "sha256", FirmwareIntegrity::sha256(image) },
            { "sizeBytes", 1000 }, { "source", "Published HTTPS" }, { "target", "m5stick-s3" }, { "version", "2.1.0" } }));
    EXPECT_EQ(firmwareState().at("phase"), "idle");
    EXPECT_EQ(firmwareState().at("message"), "Firmware 2.1.0 is available for M5 StickS3");
    EXPECT_EQ(firmwareState().at("totalBytes"), 1000);
    EXPECT_EQ(firmwareState().at("bytesTransferred"), 0);
}

TEST_F(SessionFirmwareCheckTest, ChannelWithoutReleaseManifestOffersItsOwnImage)
{
    loadOverPhysicalLink(deviceData("m5stick-c"));
    Json channel = { { "channel", "beta" }, { "currentVersion", "2.2.0-beta.1" },
        { "binaryAssets", { { "m5stick-c", imageEntry("m5stick-c") } } } };

    const SessionResponse offered = answer(check(), jsonData(channel));

    ASSERT_TRUE(offered.ok()) << offered.error();
    EXPECT_TRUE(offered.effectsOfType("download").empty()) << offered.text;
    EXPECT_EQ(state().at("firmwareAsset").at("version"), "2.2.0-beta.1");
    EXPECT_EQ(state().at("firmwareAsset").at("channel"), "beta");
    EXPECT_EQ(state().at("firmwareAsset").at("manifest"), channelURL());
    EXPECT_EQ(firmwareState().at("message"), "Firmware 2.2.0-beta.1 is available for M5 StickC Plus2");
}

TEST_F(SessionFirmwareCheckTest, RefusesFirmwareUntilASecureDeviceIsLoaded)
{
    struct Case {
        const char* name;
        std::function<void()> setUp;
        const char* action;
        const char* error;
    };
    const std::vector<Case> cases {
        { "nothing connected", [] {}, "firmwareCheck", "Connect and finish loading Tavrik first" },
        { "not loaded yet", [this] { connect(); }, "firmwareCheck", "Connect and finish loading Tavrik first" },
        { "simulator", [this] { loadOverSimulator(deviceData("m5stick-c")); }, "firmwareCheck",
            "Firmware is unavailable for simulator connections" },
        { "simulator install", [this] { loadOverSimulator(deviceData("m5stick-c")); }, "firmwareInstall",
            "Check published firmware first" },
        { "install before a check", [this] { loadOverPhysicalLink(deviceData("m5stick-c")); }, "firmwareInstall",
            "Check published firmware first" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeSession(true);
        c.setUp();
        const auto revision = last.document.is_null() ? 0 : state().at("revision").get<std::uint64_t>();

        const SessionResponse refused = dispatch(c.action, { { "appVersion", appVersion } });

        EXPECT_EQ(refused.error(), c.error);
        EXPECT_TRUE(refused.effects().empty()) << refused.text;
        EXPECT_EQ(state().at("revision"), revision);
        EXPECT_EQ(firmwareState().at("phase"), "failed");
        EXPECT_EQ(firmwareState().at("message"), c.error);
        EXPECT_EQ(firmwareState().at("active"), false);
    }
}

TEST_F(SessionFirmwareCheckTest, RefusesDownloadsThatAreNotHttps)
{
    // A manifest fetched over HTTPS may name plain HTTP links; the session still never asks for them.
    const std::string insecureRelease = "http://tavrik.app/releases/firmware/2.1.0/manifest.json";
    loadOverPhysicalLink(deviceData("m5stick-c"));
    Json channel = channelManifest();
    channel["manifestUrl"] = insecureRelease;

    const SessionResponse releaseRefused = answer(check(), jsonData(channel));

    EXPECT_EQ(releaseRefused.error(), "Android firmware downloads require HTTPS");
    EXPECT_TRUE(releaseRefused.effectsOfType("download").empty());
    EXPECT_EQ(firmwareState().at("phase"), "failed");
    EXPECT_FALSE(state().contains("firmwareAsset"));

    Json plainImage = imageEntry("m5stick-c");
    plainImage["url"] = "http://tavrik.app/releases/firmware/2.1.0/tavrik-2.1.0-m5stick-c.bin";
    const SessionResponse offered = answer(answer(check(), jsonData(channelManifest())),
        jsonData(releaseManifest({ { "binaryAssets", { { "m5stick-c", plainImage } } } })));
    ASSERT_TRUE(offered.ok()) << offered.error();

    const SessionResponse imageRefused = dispatch("firmwareInstall");

    EXPECT_EQ(imageRefused.error(), "Android firmware downloads require HTTPS");
    EXPECT_TRUE(imageRefused.effectsOfType("download").empty());
    EXPECT_EQ(firmwareState().at("active"), false);
    EXPECT_EQ(firmwareState().at("phase"), "failed");
}

TEST_F(SessionFirmwareCheckTest, AcceptsOnlyTheResultOfTheOutstandingDownload)
{
    loadOverPhysicalLink(deviceData("m5stick-c"));
    const SessionResponse first = check();
    const SessionResponse second = check();
    const Json outstanding = downloadOf(second);
    const auto revision = state().at("revision").get<std::uint64_t>();

    struct Stale {
        const char* name;
        Json arguments;
    };
    const std::vector<Stale> staleResults {
        { "replaced request", { { "requestId", downloadOf(first).at("requestId") }, { "generation", generation() } } },
        { "other generation", { { "requestId", outstanding.at("requestId") }, { "generation", generation() - 1 } } },
        { "no generation", { { "requestId", outstanding.at("requestId") } } },
        { "no request id", { { "generation", generation() } } },
    };
    for (const Stale& stale : staleResults) {
        SCOPED_TRACE(stale.name);
        const SessionResponse refused = dispatch("downloadResult", stale.arguments, jsonData(channelManifest()));
        EXPECT_EQ(refused.error(), "Stale download result");
        EXPECT_TRUE(refused.effects().empty());
        EXPECT_EQ(state().at("revision"), revision);
        EXPECT_EQ(firmwareState().at("phase"), "checking");
    }

    const SessionResponse accepted = answer(second, jsonData(channelManifest()));
    ASSERT_TRUE(accepted.ok()) << accepted.error();
    EXPECT_EQ(downloadOf(accepted).at("url"), releaseURL());
    EXPECT_EQ(answer(second, jsonData(channelManifest())).error(), "Stale download result");
}

TEST_F(SessionFirmwareCheckTest, CancelEndsACheckAndItsLateResultIsStale)
{
    // Cancelling needs no device.
    const SessionResponse idle = dispatch("firmwareCancel");
    ASSERT_TRUE(idle.ok()) << idle.error();
    EXPECT_TRUE(idle.effects().empty());
    EXPECT_EQ(firmwareState().at("phase"), "idle");

    loadOverPhysicalLink(deviceData("m5stick-c"));
    const SessionResponse checking = check();

    const SessionResponse cancelled = dispatch("firmwareCancel");

    ASSERT_TRUE(cancelled.ok()) << cancelled.error();
    EXPECT_TRUE(cancelled.effects().empty()) << cancelled.text;
    EXPECT_EQ(firmwareState().at("phase"), "idle");
    EXPECT_EQ(firmwareState().at("message"), "Checking for firmware updates.");
    EXPECT_EQ(answer(checking, jsonData(channelManifest())).error(), "Stale download result");
    EXPECT_FALSE(state().contains("firmwareAsset"));
}

TEST_F(SessionFirmwareCheckTest, HostFailureEndsTheDownloadWithoutFailingTheAction)
{
    loadOverPhysicalLink(deviceData("m5stick-c"));
    const SessionResponse checking = check();

    const SessionResponse failed = answer(checking, {}, { { "error", "The network connection was lost." } });

    ASSERT_TRUE(failed.ok()) << failed.error();
    EXPECT_TRUE(failed.effects().empty());
    EXPECT_EQ(firmwareState().at("phase"), "failed");
    EXPECT_EQ(firmwareState().at("message"), "The network connection was lost.");
    EXPECT_EQ(answer(checking, jsonData(channelManifest())).error(), "Stale download result");
}

TEST_F(SessionFirmwareCheckTest, OnlyATextErrorMarksTheDownloadFailed)
{
    struct Case {
        const char* name;
        Json error;
        bool failed;
    };
    const std::vector<Case> cases {
        { "empty text", "", true },
        { "false", false, false },
        { "null", nullptr, false },
        { "object", { { "code", -1009 } }, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeSession(true);
        loadOverPhysicalLink(deviceData("m5stick-c"));

        const SessionResponse result = answer(check(), jsonData(channelManifest()), { { "error", c.error } });

        ASSERT_TRUE(result.ok()) << result.error();
        EXPECT_EQ(firmwareState().at("phase"), c.failed ? "failed" : "checking");
        if (c.failed) {
            EXPECT_EQ(firmwareState().at("message"), c.error);
            EXPECT_TRUE(result.effects().empty());
        } else {
            EXPECT_EQ(downloadOf(result).at("url"), releaseURL()) << "the channel manifest was read";
        }
    }
}

TEST_F(SessionFirmwareCheckTest, ChecksTheCompanionVersionAgainstTheRelease)
{
    struct Case {
        std::optional<std::string> appVersion;
        Json release;
        std::string error;
    };
    const std::vector<Case> cases {
        { std::nullopt, Json::object(), "Companion version is unavailable" },
        { "", Json::object(), "Companion version is unavailable" },
        { "2.0.10", { { "minimumTavrikLinkVersion", "2.0.9" } }, "" },
        { "1.9", { { "minimumTavrikLinkVersion", "1.10" } }, "This firmware requires Tavrik Link 1.10 or newer" },
        { "2.0.10", { { "maximumTavrikLinkVersion", "2.0.9" } }, "This firmware supports Tavrik Link through 2.0.9" },
        { "2.0.9", { { "minimumTavrikLinkVersion", "2.0.9" }, { "maximumTavrikLinkVersion", "2.0.9" } }, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.appVersion.value_or("(none)") + " " + dumpJson(c.release));
        makeSession(true);
        loadOverPhysicalLink(deviceData("m5stick-c"));
        Json arguments = Json::object();
        if (c.appVersion) {
            arguments["appVersion"] = *c.appVersion;
        }
        const SessionResponse checking = dispatch("firmwareCheck", arguments);

        const SessionResponse result
            = answer(answer(checking, jsonData(channelManifest())), jsonData(releaseManifest(c.release)));

        EXPECT_EQ(result.error(), c.error);
        EXPECT_EQ(state().contains("firmwareAsset"), c.error.empty());
        EXPECT_EQ(firmwareState().at("phase"), c.error.empty() ? "idle" : "failed");
    }
}

TEST_F(SessionFirmwareCheckTest, RefusesManifestsThatOfferNothingForTheBoard)
{
    struct Case {
        const char* name;
        std::optional<std::string> target;
        Data channel;
        std::optional<Json> release;
        std::string errorStart;
    };
    const std::vector<Case> cases {
        { "device without a target", std::nullopt, jsonData(channelManifest()), releaseManifest(),
            "Connected hardware target is unknown" },
        { "channel without a release or image", "m5stick-c", textData(R"({"channel":"stable"})"), std::nullopt,
            "Firmware manifest is missing a version." },
        { "channel that is not JSON", "m5stick-c", textData("<html>"), std::nullopt, "Malformed channel manifest" },
        { "release without the board", "t-embed-cc1101", jsonData(channelManifest()), releaseManifest(),
            "No firmware build for target 't-embed-cc1101'" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeSession(true);
        loadOverPhysicalLink(deviceData(c.target));
        SessionResponse result = answer(check(), c.channel);
        if (c.release && result.ok()) {
            result = answer(result, jsonData(*c.release));
        }

        EXPECT_TRUE(result.error().starts_with(c.errorStart)) << result.error();
        EXPECT_FALSE(state().contains("firmwareAsset"));
        EXPECT_EQ(firmwareState().at("phase"), "failed");
        EXPECT_EQ(firmwareState().at("message"), result.error());
        EXPECT_EQ(dispatch("firmwareInstall").error(), "Check published firmware first");
    }
}

} // namespace
} // namespace tavrik::test
