#include "TavrikUSBProtocol/Bootloader/ESPFirmwareCompression.hpp"

#include <zlib.h>

namespace tavrik {

ESPFirmwareCompressionError::ESPFirmwareCompressionError(Kind kind, const char* description)
    : std::runtime_error(description)
    , kind_(kind)
{
}

ESPFirmwareCompressionError ESPFirmwareCompressionError::encodingFailed()
{
    return ESPFirmwareCompressionError(Kind::encodingFailed, "Failed to compress the firmware image for ESP32 transfer.");
}

Data zlibCompressedData(const Data& image)
{
    if (image.empty()) {
        return {};
    }
    const auto sourceLength = static_cast<uLong>(image.size());
    const uLong bound = compressBound(sourceLength);
    if (sourceLength != image.size() || bound < sourceLength) {
        throw ESPFirmwareCompressionError::encodingFailed();
    }
    Data output(bound);
    uLongf producedLength = bound;
    const int result = compress2(output.data(), &producedLength, image.data(), sourceLength, Z_BEST_COMPRESSION);
    if (result != Z_OK || producedLength == 0 || producedLength > bound) {
        throw ESPFirmwareCompressionError::encodingFailed();
    }
    output.resize(producedLength);
    return output;
}

} // namespace tavrik
