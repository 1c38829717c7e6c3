#pragma once

#include "TavrikCore/Firmware/FirmwareIntegrity.hpp"
#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/support/qt/LoopbackHttpServer.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <string>

namespace tavrik::test {

// A controller whose firmware channel is a real HTTP server on 127.0.0.1: a channel manifest that
// names a release manifest, which lists one over-the-air image per board.
class ControllerFirmwareTest : public ControllerTest {
protected:
    struct Release {
        std::string version = "1.5.0";
        // Boards the release has an image for.
        std::vector<std::string> targets { "m5stick-c", "m5stick-s3" };
        std::optional<std::string> minimumTavrikLinkVersion {};
        std::optional<std::string> maximumTavrikLinkVersion {};
        std::string sha256 {}; // the image's own when empty
    };

    LoopbackHttpServer server;
    QByteArray image;

    ControllerFirmwareTest()
    {
        for (int index = 0; index < 1500; ++index) {
            image.append(static_cast<char>((index * 7 + index / 256) & 0xFF));
        }
    }

    static Url url(const QString& text) { return *Url::parse(text.toStdString()); }

    // Publishes the release under /channels/<name>.json and /releases/<version>.json.
    Url publish(const Release& release, const QString& channel = "stable")
    {
        const QString releasePath = "/releases/" + QString::fromStdString(release.version) + ".json";
        const Data bytes(image.begin(), image.end());
        const std::string sha256 = release.sha256.empty() ? FirmwareIntegrity::sha256(bytes) : release.sha256;
        Json assets = Json::object();
        for (const std::string& target : release.targets) {
            assets[target]
                = { { "url", "tavrik-" + target + ".bin" }, { "sizeBytes", image.size() }, { "sha256", sha256 } };
        }
        Json manifest = { { "version", release.version }, { "binaryAssets", assets } };
        if (release.minimumTavrikLinkVersion) {
            manifest["minimumTavrikLinkVersion"] = *release.minimumTavrikLinkVersion;
        }
        if (release.maximumTavrikLinkVersion) {
            manifest["maximumTavrikLinkVersion"] = *release.maximumTavrikLinkVersion;
        }
        server.routeBody(releasePath, QByteArray::fromStdString(manifest.dump()));
        for (const std::string& target : release.targets) {
            server.routeBody("/releases/tavrik-" + QString::fromStdString(target) + ".bin", image);
        }
        const QString channelPath = "/channels/" + channel + ".json";
        const Json channelManifest
            = { { "channel", channel.toStdString() }, { "manifestUrl", ".." + releasePath.toStdString() } };
        server.routeBody(channelPath, QByteArray::fromStdString(channelManifest.dump()));
        return url(server.url(channelPath));
    }

    // Runs the event loop and whatever falls due now until the condition holds.
    bool waitFor(const std::function<bool()>& condition)
    {
        return processEventsUntil([&] {
            settle();
            return condition();
        });
    }

    bool lookupFinished() const
    {
        return controller->firmwareUpload().status().phase != FirmwareUploadStatus::Phase::checking;
    }

    // A device with `version` (none: it reports none) is loaded, then the channel is looked up.
    void loadAndLookUp(const Url& channel, std::optional<std::string> version = "1.4.0")
    {
        addDevice().data.firmwareVersion = std::move(version);
        device->takesFirmware = true;
        loadFromDevice();
        controller->setFirmwareChannelURL(channel);
        controller->refreshFirmwareAvailability();
        ASSERT_TRUE(waitFor([&] { return lookupFinished(); })) << "the lookup did not finish";
    }

    const FirmwareUploadStatus& uploadStatus() const { return controller->firmwareUpload().status(); }
};

} // namespace tavrik::test
