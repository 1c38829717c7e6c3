#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tavrik {

// Turns free text into one command argument: backslashes doubled first, then quotes escaped, then
// wrapped in double quotes. Nothing else is changed or trimmed.
std::string quotedCommandValue(std::string_view value);

// The channels whose edits are persisted through the atomic command path.
enum class AtomicCommandChannel {
    schedule,
    tag,
    routine,
    steps,
    groups,
    settings,
};

inline constexpr std::array<AtomicCommandChannel, 6> allAtomicCommandChannels {
    AtomicCommandChannel::schedule,
    AtomicCommandChannel::tag,
    AtomicCommandChannel::routine,
    AtomicCommandChannel::steps,
    AtomicCommandChannel::groups,
    AtomicCommandChannel::settings,
};

std::string_view rawValue(AtomicCommandChannel channel);
// The case whose raw value equals the text exactly; nothing for any other text.
std::optional<AtomicCommandChannel> atomicCommandChannelFromRawValue(std::string_view text);
std::string_view saveFailureMessage(AtomicCommandChannel channel);

} // namespace tavrik
