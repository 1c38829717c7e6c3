#include "TavrikUSBFlasher/Slip.hpp"

#include <algorithm>
#include <cstring>

namespace tavrik {

namespace {
constexpr std::uint8_t frameEnd = 0xC0;
constexpr std::uint8_t escape = 0xDB;
constexpr std::uint8_t escapedEnd = 0xDC;
constexpr std::uint8_t escapedEscape = 0xDD;
} // namespace

Data slipEncode(const Data& packet)
{
    Data out;
    out.reserve(packet.size() + packet.size() / 32 + 2);
    out.push_back(frameEnd);
    appendSlipEscaped(out, packet.data(), packet.size());
    out.push_back(frameEnd);
    return out;
}

void appendSlipEscaped(Data& out, const std::uint8_t* bytes, std::size_t length)
{
    const std::uint8_t* const end = bytes + length;
    const auto next = [end](const std::uint8_t* from, std::uint8_t byte) {
        const void* found = std::memchr(from, byte, static_cast<std::size_t>(end - from));
        return found ? static_cast<const std::uint8_t*>(found) : end;
    };
    const std::uint8_t* nextEnd = next(bytes, frameEnd);
    const std::uint8_t* nextEscape = next(bytes, escape);
    while (true) {
        const std::uint8_t* special = std::min(nextEnd, nextEscape);
        out.insert(out.end(), bytes, special);
        if (special == end) {
            return;
        }
        out.push_back(escape);
        out.push_back(*special == frameEnd ? escapedEnd : escapedEscape);
        bytes = special + 1;
        if (special == nextEnd) {
            nextEnd = next(bytes, frameEnd);
        } else {
            nextEscape = next(bytes, escape);
        }
    }
}

std::vector<Data> SlipDecoder::feed(const Data& bytes)
{
    std::vector<Data> frames;
    if (!bytes.empty()) {
        sawBytes_ = true;
    }
    for (const std::uint8_t byte : bytes) {
        if (byte == frameEnd) {
            const bool closes = inFrame_ && (!frame_.empty() || broken_ || escaping_);
            if (closes && !broken_ && !escaping_) {
                frames.push_back(frame_);
            }
            // After a closing C0 the line is idle until the next C0 (the ROM prints text between
            // packets); an empty frame, C0 C0, keeps the second C0 as an opening one.
            inFrame_ = !closes;
            frame_.clear();
            escaping_ = false;
            broken_ = false;
            continue;
        }
        if (!inFrame_ || broken_) {
            continue;
        }
        if (escaping_) {
            escaping_ = false;
            if (byte == escapedEnd) {
                frame_.push_back(frameEnd);
            } else if (byte == escapedEscape) {
                frame_.push_back(escape);
            } else {
                broken_ = true;
            }
        } else if (byte == escape) {
            escaping_ = true;
        } else {
            frame_.push_back(byte);
        }
    }
    return frames;
}

} // namespace tavrik
