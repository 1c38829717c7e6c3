#include "TavrikUSBProtocol/Bootloader/ESPBootloaderResponse.hpp"

#include <cstdio>

namespace tavrik {

ESPBootloaderResponseValidationError::ESPBootloaderResponseValidationError(Kind kind, const std::string& description)
    : std::runtime_error(description)
    , kind_(kind)
{
}

ESPBootloaderResponseValidationError ESPBootloaderResponseValidationError::invalidStatusByteCount(std::int64_t count)
{
    ESPBootloaderResponseValidationError error(Kind::invalidStatusByteCount,
        "ESP32 bootloader status byte count must be at least 2, got " + std::to_string(count) + ".");
    error.count_ = count;
    return error;
}

ESPBootloaderResponseValidationError ESPBootloaderResponseValidationError::shortStatusPacket(
    std::int64_t expected, std::int64_t actual)
{
    ESPBootloaderResponseValidationError error(Kind::shortStatusPacket,
        "ESP32 bootloader returned a short status packet: expected at least " + std::to_string(expected)
            + " bytes, got " + std::to_string(actual) + ".");
    error.expected_ = expected;
    error.actual_ = actual;
    return error;
}

ESPBootloaderResponseValidationError ESPBootloaderResponseValidationError::commandFailed(
    std::uint8_t command, std::uint8_t status, std::uint8_t reason)
{
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(command));
    ESPBootloaderResponseValidationError error(Kind::commandFailed,
        "ESP32 bootloader command 0x" + std::string(hex) + " failed with status "
            + std::to_string(static_cast<unsigned>(status)) + " reason " + std::to_string(static_cast<unsigned>(reason))
            + ".");
    error.command_ = command;
    error.status_ = status;
    error.reason_ = reason;
    return error;
}

Data validateESPBootloaderResponseBody(const Data& body, std::uint8_t command, std::int64_t statusByteCount)
{
    if (statusByteCount < 2) {
        throw ESPBootloaderResponseValidationError::invalidStatusByteCount(statusByteCount);
    }
    const auto length = static_cast<std::int64_t>(body.size());
    if (length < statusByteCount) {
        throw ESPBootloaderResponseValidationError::shortStatusPacket(statusByteCount, length);
    }
    const auto statusStart = body.begin() + static_cast<std::ptrdiff_t>(length - statusByteCount);
    const std::uint8_t status = statusStart[0];
    const std::uint8_t reason = statusStart[1];
    if (status != 0) {
        throw ESPBootloaderResponseValidationError::commandFailed(command, status, reason);
    }
    return Data(body.begin(), statusStart);
}

} // namespace tavrik
