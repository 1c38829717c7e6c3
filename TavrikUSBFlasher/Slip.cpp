#include "TavrikUSBFlasher/Slip.hpp"

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
    for (const std::uint8_t byte : packet) {
        if (byte == frameEnd) {
            out.push_back(escape);
            out.push_back(escapedEnd);
        } else if (byte == escape) {
            out.push_back(escape);
            out.push_back(escapedEscape);
        } else {
            out.push_back(byte);
        }
    }
    out.push_back(frameEnd);
    return out;
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
