#pragma once

#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavrik {

// A command line that does not fit the subcommand. `what()` is the user text.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "subcommand --port /dev/x --option value ... --flag": options with a value and bare flags.
struct FlasherArguments {
    std::string subcommand;
    std::map<std::string, std::string> options;
    std::set<std::string> flags;

    static FlasherArguments parse(const std::vector<std::string>& arguments);

    std::string required(const std::string& option) const;
    std::optional<std::string> optional(const std::string& option) const;
    bool hasFlag(const std::string& flag) const { return flags.count(flag) != 0; }
    // A whole number of seconds in [1, 3600], or `fallback` when the option is absent.
    int seconds(const std::string& option, int fallback) const;
};

} // namespace tavrik
