#include "TavrikUSBFlasher/LineChannel.hpp"

#include "TavrikUSBFlasher/JsonText.hpp"

namespace tavrik {

namespace {
constexpr std::size_t maximumLine = std::size_t { 64 } * 1024;
const std::string prefix = "TVK ";
constexpr std::size_t maximumOtherText = 4096;
} // namespace

LineChannel::LineChannel(SerialLink& link)
    : link_(link)
{
}

void LineChannel::send(const std::string& verb, const nlohmann::ordered_json& body)
{
    const std::string line = prefix + verb + " " + jsonText(body) + "\n";
    link_.write(Data(line.begin(), line.end()));
}

std::optional<LineMessage> LineChannel::parseLine(std::string line)
{
    while (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (line.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    const std::size_t verbEnd = line.find(' ', prefix.size());
    LineMessage message;
    message.verb = line.substr(prefix.size(), verbEnd == std::string::npos ? std::string::npos : verbEnd - prefix.size());
    if (message.verb.empty()) {
        return std::nullopt;
    }
    if (verbEnd != std::string::npos) {
        auto body = parseJsonObject(std::string_view(line).substr(verbEnd + 1));
        if (!body) {
            return std::nullopt;
        }
        message.body = std::move(*body);
    }
    return message;
}

std::optional<LineMessage> LineChannel::receive(SerialLink::Clock::time_point until)
{
    while (true) {
        // A line ends at LF. A SLIP frame end (C0) ends one too, so a ROM reply left on the line
        // before the probe starts talking cannot swallow its first message; inside a message it is
        // text (a Latin-1 "À" in a network name) and stays.
        while (true) {
            const std::size_t end
                = buffer_.starts_with(prefix) ? buffer_.find('\n') : buffer_.find_first_of(std::string("\n\xC0", 2));
            if (end == std::string::npos) {
                break;
            }
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            if (auto message = parseLine(line)) {
                return message;
            }
            otherText_ += line + "\n";
            if (otherText_.size() > maximumOtherText) {
                otherText_.erase(0, otherText_.size() - maximumOtherText);
            }
        }
        if (buffer_.size() > maximumLine) {
            buffer_.clear();
        }
        const auto current = link_.now();
        if (current >= until) {
            return std::nullopt;
        }
        const Data bytes = link_.read(
            std::chrono::duration_cast<std::chrono::milliseconds>(until - current) + std::chrono::milliseconds(1));
        buffer_.append(bytes.begin(), bytes.end());
    }
}

} // namespace tavrik
