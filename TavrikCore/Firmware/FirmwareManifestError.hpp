#pragma once

#include "TavrikCore/Support/Url.hpp"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace tavrik {

// Why a firmware manifest or image was refused; `what()` is the user text.
class FirmwareManifestError : public std::runtime_error {
public:
    enum class Kind {
        malformed,
        unsupportedURL,
        http,
        missingTarget,
        checksum,
        size,
    };

    // The message itself.
    static FirmwareManifestError malformed(const std::string& message);
    // "Unsupported firmware URL: " + the URL.
    static FirmwareManifestError unsupportedURL(const Url& url);
    // "Firmware server returned HTTP <code> for <URL>".
    static FirmwareManifestError http(int statusCode, const Url& url);
    // "No firmware build for target '<target>' in <manifest path>. Run the local firmware build ..."
    static FirmwareManifestError missingTarget(const std::string& target, const Url& manifestURL);
    // "Firmware checksum did not match the manifest for <file>."
    static FirmwareManifestError checksum(const Url& url);
    // "Firmware size did not match the manifest for <file> (expected <n>, got <m>)."
    static FirmwareManifestError size(const Url& url, std::int64_t expected, std::int64_t received);

    Kind kind() const { return errorKind; }
    // The URL the error names; absent for `malformed`.
    const std::optional<Url>& url() const { return errorUrl; }
    // `http` only.
    int statusCode() const { return httpStatus; }
    // `missingTarget` only.
    const std::string& target() const { return missingTargetName; }
    // `size` only.
    std::int64_t expectedSize() const { return expected; }
    std::int64_t receivedSize() const { return received; }

private:
    FirmwareManifestError(Kind kind, const std::string& text);

    Kind errorKind;
    std::optional<Url> errorUrl;
    int httpStatus = 0;
    std::string missingTargetName;
    std::int64_t expected = 0;
    std::int64_t received = 0;
};

// Where a manifest is, for messages: its path, or its whole text when the path is empty.
std::string manifestPlace(const Url& url);

} // namespace tavrik
