#include "TavrikCore/Backup/BackupMigrationError.hpp"
#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Firmware/FirmwareCatalogDecoder.hpp"
#include "TavrikCore/Firmware/FirmwareManifestError.hpp"
#include "TavrikCore/Firmware/FirmwareOtaMessages.hpp"
#include "TavrikCore/Model/SyncImportError.hpp"
#include "tests/robustness/HostileInput.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <typeinfo>

namespace tavrik::test {
namespace {

std::string fileText(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The backup fixtures of every version that migrate as they are: the starting points for changes.
std::vector<Json> backupDocuments()
{
    std::vector<Json> documents;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(TAVRIK_TEST_FIXTURES) + "/backup")) {
        const std::string text = fileText(entry.path());
        try {
            BackupMigrationPipeline::migrate(text);
        } catch (const std::exception&) {
            continue;
        }
        documents.push_back(parseJson(text));
    }
    std::sort(documents.begin(), documents.end(),
        [](const Json& left, const Json& right) { return dumpJson(left) < dumpJson(right); });
    return documents;
}

// What `migrate` may throw: its own error, or the store-snapshot check's. Anything else is a fault.
template <class Run>
void expectOnlyMigrationErrors(Run&& run, const std::string& input)
{
    try {
        run();
    } catch (const BackupMigrationError&) {
    } catch (const SyncImportError&) {
    } catch (const std::exception& failure) {
        ADD_FAILURE() << typeid(failure).name() << " \"" << failure.what() << "\" escaped for " << input.substr(0, 400);
    }
}

TEST(BackupMigrationHostileInputTest, RefusesOnlyWithItsOwnErrorsAndRoundTripsWhatItAccepts)
{
    const std::vector<Json> documents = backupDocuments();
    ASSERT_FALSE(documents.empty());
    HostileInput input(20260131);
    for (int round = 0; round < 400; ++round) {
        const Json& original = documents[static_cast<std::size_t>(round) % documents.size()];
        const std::size_t kind = input.below(100);
        const Data bytes = kind < 55 ? bytesOf(input.nudged(original))
            : kind < 85              ? bytesOf(input.mutated(original))
                                     : input.brokenText(original);
        const std::string text = stringFromData(bytes);
        expectOnlyMigrationErrors(
            [&] {
                const BackupMigrationResult result = BackupMigrationPipeline::migrate(bytes);
                // What was accepted can be written, and reads back as the same data.
                const Data written = BackupMigrationPipeline::encodeCurrent(result.envelope, false);
                const BackupMigrationResult again = BackupMigrationPipeline::migrate(written);
                EXPECT_EQ(again.envelope, result.envelope) << text.substr(0, 400);
                EXPECT_TRUE(again.warnings.empty()) << text.substr(0, 400);
            },
            text);
        if (HasFailure()) {
            return;
        }
    }
}

Json channelWithRelease()
{
    return { { "channel", "stable" }, { "currentVersion", "2.0.0" }, { "manifestUrl", "releases/2.0.0.json" } };
}

Json releaseManifest()
{
    return parseJson(R"({
        "version": "2.0.0",
        "minimumTavrikLinkVersion": "1.0.0",
        "binaryAssets": {
            "m5stick-c": {"url": "m5stick-c/tavrik.bin", "sizeBytes": 700, "sha256": "ab"},
            "m5stick-s3": {"url": "https://cdn.example/s3.bin", "fileName": "s3.bin", "sizeBytes": 800, "sha256": "cd"}
        },
        "factoryAssets": {"m5stick-c": {"url": "factory.bin", "sizeBytes": 4194304, "sha256": "ef"}},
        "binaryUrl": "flat.bin", "sizeBytes": 10, "sha256": "00"
    })");
}

const std::vector<std::string> hostileLinks { "", " ", "/", "//", "?", "#", "..", "../../../../etc/passwd",
    "file:///etc/passwd", "FILE:/x", "javascript:alert(1)", "data:,x", "https://", "https:", "http://[::1",
    "https://host:99999999999999/x", "https://h/%zz", "https://h/%00x", "https://h/a b", "//evil.example/x",
    "\\\\server\\share", "https://h/\u00e9", std::string(3000, 'a'), "ftp://h/x", "HTTPS://H/X.bin" };

TEST(FirmwareManifestHostileInputTest, RefusesOnlyWithManifestErrorsAndNamesOnlyWebImages)
{
    const Url channelURL = FirmwareCatalogDecoder::publishedChannelURL();
    HostileInput input(4242);
    for (int round = 0; round < 300; ++round) {
        Json channel = channelWithRelease();
        Json release = releaseManifest();
        if (input.chance(50)) {
            channel = release;
            channel["channel"] = "stable";
        }
        if (input.chance(40)) {
            (input.chance(50) ? channel : release)[input.chance(50) ? "manifestUrl" : "binaryUrl"]
                = input.pick(hostileLinks);
        }
        if (input.chance(40)) {
            release["binaryAssets"]["m5stick-c"]["url"] = input.pick(hostileLinks);
        }
        const auto hostile = [&](const Json& manifest) {
            const std::size_t kind = input.below(100);
            return kind < 50 ? bytesOf(input.nudged(manifest))
                : kind < 85  ? bytesOf(input.mutated(manifest))
                             : input.brokenText(manifest);
        };
        const Data channelData = hostile(channel);
        const Data releaseData = hostile(release);
        const std::string context
            = stringFromData(channelData).substr(0, 300) + " / " + stringFromData(releaseData).substr(0, 300);
        try {
            if (input.chance(30)) {
                FirmwareCatalogDecoder::releaseURL(channelData, channelURL);
                continue;
            }
            const FirmwareCatalog catalog = FirmwareCatalogDecoder::decode(channelData, channelURL, releaseData);
            // A published manifest may only send the application to the web.
            for (const auto& assets : { catalog.binaryAssets, catalog.factoryAssets }) {
                for (const auto& [target, asset] : assets) {
                    EXPECT_TRUE(asset.url.isWebUrl()) << asset.url.absoluteString() << " in " << context;
                }
            }
            EXPECT_FALSE(catalog.version.empty()) << context;
        } catch (const FirmwareManifestError&) {
        } catch (const std::exception& failure) {
            ADD_FAILURE() << typeid(failure).name() << " \"" << failure.what() << "\" escaped for " << context;
        }
    }
}

// Texts close to a flat status message: the byte reader must agree with the document reader on
// every one of them, including which are refused.
TEST(FirmwareStatusHostileInputTest, ByteReaderAgreesWithTheDocumentReaderOnGeneratedTexts)
{
    const std::vector<std::string> keys { "type", "state", "version", "fileName", "expectedBytes", "receivedBytes",
        "nextChunkIndex", "chunksReceived", "ackIntervalChunks", "elapsedMs", "message", "hardwareTarget", "other", "" };
    const std::vector<std::string> values { "\"firmware_status\"", "\"ready\"", "\"\"", "\"caf\xC3\xA9\"", "\"a\\\"b\"",
        "\"bad \xC3\"", "0", "-0", "7", "-12", "012", "999999999999999999", "9223372036854775807",
        "-9223372036854775808", "9223372036854775808", "18446744073709551616", "4.0", "4.5", "1e2", "1e999", "true",
        "null", "[]", "{}", "-", "\"\\u0000\"" };
    const std::vector<std::string> blanks { "", " ", "\n\t", "\r" };
    HostileInput input(99);
    for (int round = 0; round < 2000; ++round) {
        std::string text = input.pick(blanks) + "{";
        const std::size_t members = input.below(6);
        for (std::size_t index = 0; index < members; ++index) {
            if (index > 0) {
                text += ",";
            }
            const std::string& key = index < 2 && input.chance(80) ? keys[index] : input.pick(keys);
            std::string value = input.pick(values);
            if (index < 2 && input.chance(70)) {
                value = index == 0 ? "\"firmware_status\"" : "\"receiving\"";
            }
            text += input.pick(blanks) + "\"" + key + "\"" + input.pick(blanks) + ":" + input.pick(blanks) + value;
        }
        text += "}" + input.pick(blanks);
        if (input.chance(5)) {
            text.resize(input.below(text.size()));
        }
        std::optional<FirmwareStatusEnvelope> expected;
        try {
            expected = firmwareStatusEnvelopeFromJson(parseJson(std::string_view(text)));
        } catch (const JsonDecodeError&) {
        }
        try {
            const FirmwareStatusEnvelope read = firmwareStatusEnvelopeFromData(dataFromString(text));
            EXPECT_TRUE(expected && read == *expected) << text;
        } catch (const JsonDecodeError&) {
            EXPECT_FALSE(expected) << text;
        } catch (const std::exception& failure) {
            ADD_FAILURE() << typeid(failure).name() << " \"" << failure.what() << "\" escaped for " << text;
        }
        if (HasFailure()) {
            return;
        }
    }
}

} // namespace
} // namespace tavrik::test
