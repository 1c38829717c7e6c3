#include "TavrikCore/Firmware/FirmwareManifestError.hpp"

namespace tavrik {

std::string manifestPlace(const Url& url)
{
    return url.path().empty() ? url.absoluteString() : url.path();
}

FirmwareManifestError::FirmwareManifestError(Kind kind, const std::string& text)
    : std::runtime_error(text)
    , errorKind(kind)
{
}

FirmwareManifestError FirmwareManifestError::malformed(const std::string& message)
{
    return FirmwareManifestError(Kind::malformed, message);
}

FirmwareManifestError FirmwareManifestError::unsupportedURL(const Url& url)
{
    FirmwareManifestError error(Kind::unsupportedURL, "Unsupported firmware URL: " + url.absoluteString());
    error.errorUrl = url;
    return error;
}

FirmwareManifestError FirmwareManifestError::http(int statusCode, const Url& url)
{
    FirmwareManifestError error(
        Kind::http, "Firmware server returned HTTP " + std::to_string(statusCode) + " for " + url.absoluteString());
    error.errorUrl = url;
    error.httpStatus = statusCode;
    return error;
}

FirmwareManifestError FirmwareManifestError::missingTarget(const std::string& target, const Url& manifestURL)
{
    FirmwareManifestError error(Kind::missingTarget,
        "No firmware build for target '" + target + "' in " + manifestPlace(manifestURL)
            + ". Run the local firmware build for all OTA targets or publish the missing asset.");
    error.errorUrl = manifestURL;
    error.missingTargetName = target;
    return error;
}

FirmwareManifestError FirmwareManifestError::checksum(const Url& url)
{
    FirmwareManifestError error(
        Kind::checksum, "Firmware checksum did not match the manifest for " + url.lastPathComponent() + ".");
    error.errorUrl = url;
    return error;
}

FirmwareManifestError FirmwareManifestError::size(const Url& url, std::int64_t expected, std::int64_t received)
{
    FirmwareManifestError error(Kind::size,
        "Firmware size did not match the manifest for " + url.lastPathComponent() + " (expected "
            + std::to_string(expected) + ", got " + std::to_string(received) + ").");
    error.errorUrl = url;
    error.expected = expected;
    error.received = received;
    return error;
}

} // namespace tavrik
