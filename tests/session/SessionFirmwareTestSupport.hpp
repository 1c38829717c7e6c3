#pragma once

#include "TavrikCore/Firmware/FirmwareCatalogDecoder.hpp"
#include "TavrikCore/Firmware/FirmwareIntegrity.hpp"
#include "tests/session/SessionTestSupport.hpp"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrik::test {

// One "firmwareWrite" effect taken apart: chunk index and byte offset (4 bytes little-endian each), then data.
struct FirmwareChunk {
    std::uint32_t index = 0;
    std::uint32_t offset = 0;
    Data bytes;
};

inline std::uint32_t littleEndian32(const Data& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes.at(at)) | (static_cast<std::uint32_t>(bytes.at(at + 1)) << 8)
        | (static_cast<std::uint32_t>(bytes.at(at + 2)) << 16) | (static_cast<std::uint32_t>(bytes.at(at + 3)) << 24);
}

inline std::vector<FirmwareChunk> firmwareChunks(const std::vector<SessionResponse>& responses)
{
    std::vector<FirmwareChunk> chunks;
    for (const SessionResponse& response : responses) {
        for (const Json& effect : response.effectsOfType("firmwareWrite")) {
            const Data payload = base64Payload(effect);
            chunks.push_back(
                { littleEndian32(payload, 0), littleEndian32(payload, 4), Data(payload.begin() + 8, payload.end()) });
        }
    }
    return chunks;
}

inline std::vector<std::string> effectTypes(const SessionResponse& response)
{
    std::vector<std::string> types;
    for (const Json& effect : response.effects()) {
        types.push_back(effect.at("type").get<std::string>());
    }
    return types;
}

// A published release 2.1.0 on the release host: the stable channel names a release manifest, which
// lists a 1000-byte over-the-air image for the first two boards. The physical link writes 185 bytes,
// so the image goes out in 6 chunks of at most 177 bytes.
class SessionFirmwareTest : public SessionTest {
protected:
    SessionFirmwareTest()
    {
        image.resize(1000);
        for (std::size_t index = 0; index < image.size(); ++index) {
            image[index] = static_cast<std::uint8_t>((index * 7 + 3) & 0xFF);
        }
    }

    static std::string channelURL() { return FirmwareCatalogDecoder::publishedChannelURL().absoluteString(); }
    static std::string releaseURL() { return resolved("../2.1.0/manifest.json"); }
    static std::string imageURL(const std::string& target)
    {
        return resolved("../2.1.0/tavrik-2.1.0-" + target + ".bin");
    }

    // The device data of the sample, on the given board; without "hardwareTarget" when none is given.
    static Json deviceData(const std::optional<std::string>& target)
    {
        Json data = sampleDeviceData();
        data.erase("hardwareTarget");
        if (target) {
            data["hardwareTarget"] = *target;
        }
        return data;
    }

    static Json channelManifest()
    {
        return { { "channel", "stable" }, { "currentVersion", "2.1.0" }, { "manifestUrl", "../2.1.0/manifest.json" } };
    }

    Json imageEntry(const std::string& target) const
    {
        return { { "url", "tavrik-2.1.0-" + target + ".bin" }, { "sizeBytes", image.size() },
            { "sha256", FirmwareIntegrity::sha256(image) } };
    }

    // The release manifest; `extra` keys are added at the top level.
    Json releaseManifest(const Json& extra = Json::object()) const
    {
        Json release = { { "version", "2.1.0" },
            { "binaryAssets", { { "m5stick-c", imageEntry("m5stick-c") }, { "m5stick-s3", imageEntry("m5stick-s3") } } } };
        for (const auto& [key, value] : extra.items()) {
            release[key] = value;
        }
        return release;
    }

    // The one "download" effect of a response.
    static Json downloadOf(const SessionResponse& response)
    {
        const std::vector<Json> downloads = response.effectsOfType("download");
        if (downloads.size() != 1) {
            throw std::runtime_error("expected one download effect in " + response.text);
        }
        return downloads.front();
    }

    // The host delivers the download the response asked for; `extra` goes into the envelope.
    SessionResponse answer(const SessionResponse& requested, const Data& payload, const Json& extra = Json::object())
    {
        const Json download = downloadOf(requested);
        Json arguments = { { "requestId", download.at("requestId") }, { "generation", download.at("generation") } };
        for (const auto& [key, value] : extra.items()) {
            arguments[key] = value;
        }
        return dispatch("downloadResult", arguments, payload);
    }

    SessionResponse check() { return dispatch("firmwareCheck", { { "appVersion", appVersion } }); }

    // Loads the board over the physical link and answers the check's two manifest downloads.
    SessionResponse offerFirmware(const std::string& target = "m5stick-c", const Json& releaseExtra = Json::object())
    {
        loadOverPhysicalLink(deviceData(target));
        const SessionResponse release = answer(check(), jsonData(channelManifest()));
        return answer(release, jsonData(releaseManifest(releaseExtra)));
    }

    // Asks for the image, delivers it and hands the "firmware_begin" writes to the device.
    SessionResponse installImage()
    {
        const SessionResponse installed = answer(dispatch("firmwareInstall"), image);
        pump(installed);
        return installed;
    }

    // The device reports its upload state; gives the chunks the session wrote in answer.
    std::vector<FirmwareChunk> deviceReports(const Json& report)
    {
        Json message = report;
        message["type"] = "firmware_status";
        return firmwareChunks(deviceSends(message));
    }

    // Loads the data again on the same link, as the host may do at any time.
    void reload(const Json& data)
    {
        pump(dispatch("load"));
        const std::optional<Json> start = device.lastReceived("sync_start");
        deviceSendsReliably(data);
        deviceSends({ { "type", "sync_done" }, { "code", start->at("code") } });
    }

    std::size_t receivedCount(std::string_view type) const
    {
        std::size_t count = 0;
        for (const Json& message : device.receivedJson()) {
            count += message.value("type", "") == type ? 1 : 0;
        }
        return count;
    }

    const Json& firmwareState() const { return state().at("firmware"); }

    Data image;
    std::string appVersion = "3.2.0";

private:
    static std::string resolved(const std::string& relative)
    {
        return Url::resolve(relative, FirmwareCatalogDecoder::publishedChannelURL())->absoluteString();
    }
};

} // namespace tavrik::test
