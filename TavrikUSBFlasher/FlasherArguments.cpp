#include "TavrikUSBFlasher/FlasherArguments.hpp"

#include <charconv>

namespace tavrik {

namespace {

const std::map<std::string, std::set<std::string>>& knownOptions()
{
    static const std::map<std::string, std::set<std::string>> options = {
        { "probe", { "--port" } },
        { "hardware-probe", { "--port", "--image", "--expected-target", "--timeout", "--labels" } },
        { "probe-stage", { "--port", "--stage", "--timeout" } },
        { "wifi-scan", { "--port", "--timeout" } },
        { "wifi-test", { "--port", "--ssid", "--timeout" } },
        { "flash", { "--port", "--image", "--verified-target" } },
        { "configure-wifi-time", { "--port", "--ssid", "--timezone" } },
        { "set-time", { "--port", "--time" } },
        { "stop-probe", { "--port" } },
    };
    return options;
}

const std::set<std::string>& knownFlags()
{
    static const std::set<std::string> flags = { "--json", "--password-stdin" };
    return flags;
}

} // namespace

FlasherArguments FlasherArguments::parse(const std::vector<std::string>& arguments)
{
    if (arguments.empty()) {
        throw UsageError("Usage: TavrikUSBFlasher <subcommand> --port <device> [options]");
    }
    FlasherArguments parsed;
    parsed.subcommand = arguments.front();
    const auto known = knownOptions().find(parsed.subcommand);
    if (known == knownOptions().end()) {
        throw UsageError("Unknown subcommand: " + parsed.subcommand);
    }
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        if (knownFlags().count(argument) != 0) {
            parsed.flags.insert(argument);
        } else if (known->second.count(argument) != 0) {
            if (index + 1 >= arguments.size()) {
                throw UsageError("Missing value for " + argument + ".");
            }
            parsed.options[argument] = arguments[++index];
        } else {
            throw UsageError("Unexpected argument for " + parsed.subcommand + ": " + argument);
        }
    }
    parsed.required("--port");
    return parsed;
}

std::string FlasherArguments::required(const std::string& option) const
{
    const auto found = options.find(option);
    if (found == options.end() || found->second.empty()) {
        throw UsageError(subcommand + " needs " + option + ".");
    }
    return found->second;
}

std::optional<std::string> FlasherArguments::optional(const std::string& option) const
{
    const auto found = options.find(option);
    if (found == options.end()) {
        return std::nullopt;
    }
    return found->second;
}

int FlasherArguments::seconds(const std::string& option, int fallback) const
{
    const auto text = optional(option);
    if (!text) {
        return fallback;
    }
    int value = 0;
    const auto result = std::from_chars(text->data(), text->data() + text->size(), value);
    if (result.ec != std::errc() || result.ptr != text->data() + text->size() || value < 1 || value > 3600) {
        throw UsageError(option + " must be a whole number of seconds from 1 to 3600.");
    }
    return value;
}

} // namespace tavrik
