#pragma once

#include "TavrikUSBProtocol/Support/Data.hpp"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tavrik {

// Why a ROM loader response was refused. `what()` is the user text.
class ESPBootloaderResponseValidationError : public std::runtime_error {
public:
    enum class Kind {
        invalidStatusByteCount,
        shortStatusPacket,
        commandFailed,
    };

    static ESPBootloaderResponseValidationError invalidStatusByteCount(std::int64_t count);
    static ESPBootloaderResponseValidationError shortStatusPacket(std::int64_t expected, std::int64_t actual);
    static ESPBootloaderResponseValidationError commandFailed(
        std::uint8_t command, std::uint8_t status, std::uint8_t reason);

    Kind kind() const { return kind_; }
    // The refused count of `invalidStatusByteCount`; 0 otherwise.
    std::int64_t count() const { return count_; }
    // The sizes of `shortStatusPacket`; 0 otherwise.
    std::int64_t expected() const { return expected_; }
    std::int64_t actual() const { return actual_; }
    // The values of `commandFailed`; 0 otherwise.
    std::uint8_t command() const { return command_; }
    std::uint8_t status() const { return status_; }
    std::uint8_t reason() const { return reason_; }

    friend bool operator==(
        const ESPBootloaderResponseValidationError& left, const ESPBootloaderResponseValidationError& right)
    {
        return left.kind_ == right.kind_ && left.count_ == right.count_ && left.expected_ == right.expected_
            && left.actual_ == right.actual_ && left.command_ == right.command_ && left.status_ == right.status_
            && left.reason_ == right.reason_;
    }

private:
    ESPBootloaderResponseValidationError(Kind kind, const std::string& description);

    Kind kind_;
    std::int64_t count_ = 0;
    std::int64_t expected_ = 0;
    std::int64_t actual_ = 0;
    std::uint8_t command_ = 0;
    std::uint8_t status_ = 0;
    std::uint8_t reason_ = 0;
};

// Checks the status bytes that end a response body and gives the bytes before them. Of the
// `statusByteCount` trailing bytes the first is the status (0 is success) and the second the
// reason; loaders that send four status bytes pad with two the check ignores.
// `command` is the request's command byte, named in the failure.
Data validateESPBootloaderResponseBody(const Data& body, std::uint8_t command, std::int64_t statusByteCount);

} // namespace tavrik
