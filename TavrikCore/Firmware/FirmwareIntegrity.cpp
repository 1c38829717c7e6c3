#include "TavrikCore/Firmware/FirmwareIntegrity.hpp"

#include "TavrikCore/Model/SyncImportError.hpp"

#include <openssl/evp.h>

#include <array>
#include <cctype>
#include <memory>
#include <stdexcept>

namespace tavrik {

namespace {

bool equalIgnoringCase(std::string_view left, std::string_view right)
{
    if (left.size() != right.size()) {
        return false;
    }
    for (std::size_t index = 0; index < left.size(); ++index) {
        if (std::tolower(static_cast<unsigned char>(left[index]))
            != std::tolower(static_cast<unsigned char>(right[index]))) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string FirmwareIntegrity::sha256(std::span<const std::uint8_t> data)
{
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest {};
    unsigned int digestLength = 0;
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1
        || EVP_DigestUpdate(context.get(), data.data(), data.size()) != 1
        || EVP_DigestFinal_ex(context.get(), digest.data(), &digestLength) != 1) {
        throw std::runtime_error("SHA-256 is unavailable");
    }
    static constexpr char hexDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(std::size_t { digestLength } * 2);
    for (unsigned int index = 0; index < digestLength; ++index) {
        text += hexDigits[digest[index] >> 4];
        text += hexDigits[digest[index] & 0x0F];
    }
    return text;
}

void FirmwareIntegrity::validate(const Data& data, const FirmwareAsset& asset, FirmwareHardwareTarget connectedTarget)
{
    if (asset.target != connectedTarget) {
        throw SyncImportError("Firmware hardware target does not match the connected device");
    }
    if (static_cast<std::int64_t>(data.size()) != asset.sizeBytes) {
        throw SyncImportError("Firmware size does not match the manifest");
    }
    if (!equalIgnoringCase(sha256(data), asset.sha256)) {
        throw SyncImportError("Firmware checksum does not match the manifest");
    }
}

} // namespace tavrik
