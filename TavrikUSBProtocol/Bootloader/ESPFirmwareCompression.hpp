#pragma once

#include "TavrikUSBProtocol/Support/Data.hpp"

#include <cstddef>
#include <functional>
#include <stdexcept>

namespace tavrik {

// zlib could not compress an image. `what()` is the user text.
class ESPFirmwareCompressionError : public std::runtime_error {
public:
    enum class Kind {
        encodingFailed,
    };

    static ESPFirmwareCompressionError encodingFailed();

    Kind kind() const { return kind_; }

    friend bool operator==(const ESPFirmwareCompressionError& left, const ESPFirmwareCompressionError& right)
    {
        return left.kind_ == right.kind_;
    }

private:
    ESPFirmwareCompressionError(Kind kind, const char* description);

    Kind kind_;
};

// The image as one zlib stream (header, deflate data, Adler-32) at the best compression level,
// ready for the ROM loader's compressed flashing. An empty image gives nothing: there is nothing to
// flash, and no caller sends an empty stream to a board.
Data zlibCompressedData(const Data& image);

} // namespace tavrik

template <>
struct std::hash<tavrik::ESPFirmwareCompressionError> {
    std::size_t operator()(const tavrik::ESPFirmwareCompressionError& error) const noexcept
    {
        return std::hash<int>()(static_cast<int>(error.kind()));
    }
};
