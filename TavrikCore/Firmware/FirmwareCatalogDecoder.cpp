#include "TavrikCore/Firmware/FirmwareCatalogDecoder.hpp"

#include "TavrikCore/Firmware/FirmwareManifestError.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tavrik {

namespace {

const std::string flatTargetKey = "m5stick-c";

struct AssetEntry {
    std::string url;
    std::optional<std::string> fileName;
    std::int64_t sizeBytes = 0;
    std::string sha256;
};

// One shape for both channel and release manifests; every key is optional and extra keys are ignored.
struct ManifestDocument {
    std::optional<std::string> channel;
    std::optional<std::string> currentVersion;
    std::optional<std::string> version;
    std::optional<std::string> manifestUrl;
    std::optional<std::string> binaryUrl;
    std::optional<std::string> url;
    std::optional<std::string> factoryBinaryUrl;
    std::optional<std::string> factoryUrl;
    std::optional<std::string> fileName;
    std::optional<std::string> factoryFileName;
    std::optional<std::string> minimumTavrikLinkVersion;
    std::optional<std::string> maximumTavrikLinkVersion;
    std::optional<std::int64_t> sizeBytes;
    std::optional<std::string> sha256;
    std::optional<std::int64_t> factorySizeBytes;
    std::optional<std::string> factorySha256;
    std::vector<std::pair<std::string, AssetEntry>> binaryAssets;
    std::vector<std::pair<std::string, AssetEntry>> factoryAssets;
};

AssetEntry assetEntryFromJson(const Json& value)
{
    json::requireObject(value, "asset");
    json::optionalString(value, "target");
    return AssetEntry {
        .url = json::requiredString(value, "url"),
        .fileName = json::optionalString(value, "fileName"),
        .sizeBytes = json::requiredInt(value, "sizeBytes"),
        .sha256 = json::requiredString(value, "sha256"),
    };
}

std::vector<std::pair<std::string, AssetEntry>> assetTable(const Json& document, std::string_view key)
{
    std::vector<std::pair<std::string, AssetEntry>> table;
    const Json* object = json::member(document, key);
    if (object == nullptr) {
        return table;
    }
    json::requireObject(*object, key);
    for (const auto& [target, entry] : object->items()) {
        table.emplace_back(target, assetEntryFromJson(entry));
    }
    return table;
}

// Throws JsonDecodeError.
ManifestDocument decodeDocument(const Data& bytes)
{
    const Json document = parseJson(bytes);
    json::requireObject(document, "manifest");
    json::optionalString(document, "product");
    return ManifestDocument {
        .channel = json::optionalString(document, "channel"),
        .currentVersion = json::optionalString(document, "currentVersion"),
        .version = json::optionalString(document, "version"),
        .manifestUrl = json::optionalString(document, "manifestUrl"),
        .binaryUrl = json::optionalString(document, "binaryUrl"),
        .url = json::optionalString(document, "url"),
        .factoryBinaryUrl = json::optionalString(document, "factoryBinaryUrl"),
        .factoryUrl = json::optionalString(document, "factoryUrl"),
        .fileName = json::optionalString(document, "fileName"),
        .factoryFileName = json::optionalString(document, "factoryFileName"),
        .minimumTavrikLinkVersion = json::optionalString(document, "minimumTavrikLinkVersion"),
        .maximumTavrikLinkVersion = json::optionalString(document, "maximumTavrikLinkVersion"),
        .sizeBytes = json::optionalInt(document, "sizeBytes"),
        .sha256 = json::optionalString(document, "sha256"),
        .factorySizeBytes = json::optionalInt(document, "factorySizeBytes"),
        .factorySha256 = json::optionalString(document, "factorySha256"),
        .binaryAssets = assetTable(document, "binaryAssets"),
        .factoryAssets = assetTable(document, "factoryAssets"),
    };
}

// Links in a document that did not come from a local file must stay on the web: a published manifest
// must not make the application read local files.
Url resolveLink(const std::string& text, const Url& documentURL)
{
    auto url = Url::resolve(text, documentURL);
    if (!url) {
        throw FirmwareManifestError::malformed("Invalid relative firmware URL '" + text + "'.");
    }
    if (!documentURL.isFileUrl() && !url->isWebUrl()) {
        throw FirmwareManifestError::unsupportedURL(*url);
    }
    return std::move(*url);
}

std::optional<Url> namedReleaseURL(const ManifestDocument& channel, const Url& channelURL)
{
    if (!channel.manifestUrl || channel.manifestUrl->empty()) {
        return std::nullopt;
    }
    return resolveLink(*channel.manifestUrl, channelURL);
}

FirmwareFactoryAsset resolvedAsset(const std::string& urlText, const std::optional<std::string>& fileName,
    std::int64_t sizeBytes, const std::string& sha256, const Url& documentURL)
{
    Url url = resolveLink(urlText, documentURL);
    std::string name = fileName ? *fileName : url.lastPathComponent();
    return FirmwareFactoryAsset {
        .url = std::move(url), .fileName = std::move(name), .sizeBytes = sizeBytes, .sha256 = sha256
    };
}

std::map<std::string, FirmwareFactoryAsset> resolvedTable(
    const std::vector<std::pair<std::string, AssetEntry>>& table, const Url& documentURL)
{
    std::map<std::string, FirmwareFactoryAsset> result;
    for (const auto& [target, entry] : table) {
        result.insert_or_assign(
            target, resolvedAsset(entry.url, entry.fileName, entry.sizeBytes, entry.sha256, documentURL));
    }
    return result;
}

// The older single-board form: one image described by top-level keys, for the first board.
void addFlatAsset(std::map<std::string, FirmwareFactoryAsset>& table, const std::optional<std::string>& preferredUrl,
    const std::optional<std::string>& fallbackUrl, const std::optional<std::int64_t>& sizeBytes,
    const std::optional<std::string>& sha256, const std::optional<std::string>& fileName, const Url& documentURL)
{
    const std::optional<std::string>& urlText = preferredUrl ? preferredUrl : fallbackUrl;
    if (table.contains(flatTargetKey) || !urlText || !sizeBytes || !sha256) {
        return;
    }
    table.emplace(flatTargetKey, resolvedAsset(*urlText, fileName, *sizeBytes, *sha256, documentURL));
}

FirmwareCatalog buildCatalog(const ManifestDocument& document, const Url& documentURL, const Url& sourceURL,
    const std::optional<std::string>& fallbackVersion, const std::string& fallbackChannel)
{
    const std::optional<std::string> version
        = document.version ? document.version : (document.currentVersion ? document.currentVersion : fallbackVersion);
    if (!version || version->empty()) {
        throw FirmwareManifestError::malformed("Firmware manifest is missing a version.");
    }
    auto binaryAssets = resolvedTable(document.binaryAssets, documentURL);
    auto factoryAssets = resolvedTable(document.factoryAssets, documentURL);
    addFlatAsset(binaryAssets, document.binaryUrl, document.url, document.sizeBytes, document.sha256, document.fileName,
        documentURL);
    addFlatAsset(factoryAssets, document.factoryBinaryUrl, document.factoryUrl, document.factorySizeBytes,
        document.factorySha256, document.factoryFileName, documentURL);
    if (binaryAssets.empty()) {
        throw FirmwareManifestError::malformed("Firmware manifest contains no OTA binary assets.");
    }
    return FirmwareCatalog {
        .version = *version,
        .channel = document.channel ? *document.channel : fallbackChannel,
        .sourceURL = sourceURL,
        .manifestURL = documentURL,
        .binaryAssets = std::move(binaryAssets),
        .factoryAssets = std::move(factoryAssets),
        .minimumTavrikLinkVersion = document.minimumTavrikLinkVersion,
        .maximumTavrikLinkVersion = document.maximumTavrikLinkVersion,
    };
}

} // namespace

const Url& FirmwareCatalogDecoder::publishedChannelURL()
{
    static const Url url = *Url::parse("https://tavrik.app/releases/firmware/channels/stable.json");
    return url;
}

std::optional<Url> FirmwareCatalogDecoder::releaseURL(const Data& channelData, const Url& channelURL)
{
    ManifestDocument channel;
    try {
        channel = decodeDocument(channelData);
    } catch (const JsonDecodeError& error) {
        throw FirmwareManifestError::malformed(std::string("Malformed channel manifest: ") + error.what());
    }
    return namedReleaseURL(channel, channelURL);
}

FirmwareCatalog FirmwareCatalogDecoder::decode(
    const Data& channelData, const Url& channelURL, const std::optional<Data>& releaseData)
{
    ManifestDocument channel;
    try {
        channel = decodeDocument(channelData);
    } catch (const JsonDecodeError& error) {
        throw FirmwareManifestError::malformed(
            "Malformed channel manifest at " + manifestPlace(channelURL) + ": " + error.what());
    }
    if (!channel.channel || channel.channel->empty()) {
        throw FirmwareManifestError::malformed("Channel manifest is missing 'channel'.");
    }
    const auto releaseURL = namedReleaseURL(channel, channelURL);
    if (!releaseURL) {
        return buildCatalog(channel, channelURL, channelURL, channel.currentVersion, *channel.channel);
    }
    if (!releaseData) {
        throw FirmwareManifestError::malformed("Release manifest data is missing");
    }
    ManifestDocument release;
    try {
        release = decodeDocument(*releaseData);
    } catch (const JsonDecodeError& error) {
        throw FirmwareManifestError::malformed(
            "Malformed release manifest at " + manifestPlace(*releaseURL) + ": " + error.what());
    }
    return buildCatalog(release, *releaseURL, channelURL, channel.currentVersion, *channel.channel);
}

} // namespace tavrik
