#include "TavrikCore/Model/Commands.hpp"

namespace tavrik {

std::string quotedCommandValue(std::string_view value)
{
    std::string result;
    result.reserve(value.size() + 2);
    result.push_back('"');
    for (const char character : value) {
        if (character == '\\' || character == '"') {
            result.push_back('\\');
        }
        result.push_back(character);
    }
    result.push_back('"');
    return result;
}

std::string_view rawValue(AtomicCommandChannel channel)
{
    switch (channel) {
    case AtomicCommandChannel::schedule:
        return "schedule";
    case AtomicCommandChannel::tag:
        return "tag";
    case AtomicCommandChannel::routine:
        return "routine";
    case AtomicCommandChannel::steps:
        return "steps";
    case AtomicCommandChannel::groups:
        return "groups";
    case AtomicCommandChannel::settings:
        return "settings";
    }
    return {};
}

std::optional<AtomicCommandChannel> atomicCommandChannelFromRawValue(std::string_view text)
{
    for (const AtomicCommandChannel channel : allAtomicCommandChannels) {
        if (rawValue(channel) == text) {
            return channel;
        }
    }
    return std::nullopt;
}

std::string_view saveFailureMessage(AtomicCommandChannel channel)
{
    switch (channel) {
    case AtomicCommandChannel::schedule:
        return "Failed to save schedule change";
    case AtomicCommandChannel::tag:
        return "Failed to save tag change";
    case AtomicCommandChannel::routine:
        return "Failed to save routine change";
    case AtomicCommandChannel::steps:
        return "Failed to save routine step change";
    case AtomicCommandChannel::groups:
        return "Failed to save group change";
    case AtomicCommandChannel::settings:
        return "Failed to save settings change";
    }
    return {};
}

} // namespace tavrik
