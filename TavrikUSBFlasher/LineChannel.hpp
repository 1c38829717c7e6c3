#pragma once

#include "TavrikUSBFlasher/SerialLink.hpp"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace tavrik {

struct LineMessage {
    std::string verb;
    nlohmann::ordered_json body = nlohmann::ordered_json::object();

    bool operator==(const LineMessage&) const = default;
};

// The text protocol of the probe image and the Tavrik firmware (PROTOCOL.md): one message a line,
// "TVK <verb> <json object>". Every other line on the port is ignored.
class LineChannel {
public:
    explicit LineChannel(SerialLink& link);

    void send(const std::string& verb, const nlohmann::ordered_json& body = nlohmann::ordered_json::object());
    // The next message, or nothing when none arrives before `until`.
    std::optional<LineMessage> receive(SerialLink::Clock::time_point until);

    // Parses one line; nothing for a line that is not a message.
    static std::optional<LineMessage> parseLine(std::string line);

    // The last few kilobytes of what the board printed that were not messages (boot log).
    const std::string& otherText() const { return otherText_; }

private:
    SerialLink& link_;
    std::string buffer_;
    std::string otherText_;
};

} // namespace tavrik
