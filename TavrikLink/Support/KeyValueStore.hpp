#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tavrik {

// User defaults: QSettings in the application, in memory in tests.
class KeyValueStore {
public:
    virtual ~KeyValueStore() = default;
    // The stored Boolean; none when the key is absent or holds something else.
    virtual std::optional<bool> boolValue(std::string_view key) const = 0;
    virtual void setBool(std::string_view key, bool value) = 0;
    virtual std::optional<std::string> stringValue(std::string_view key) const = 0;
    virtual void setString(std::string_view key, std::string_view value) = 0;
    virtual void remove(std::string_view key) = 0;
};

class InMemoryKeyValueStore final : public KeyValueStore {
public:
    std::optional<bool> boolValue(std::string_view key) const override;
    void setBool(std::string_view key, bool value) override;
    std::optional<std::string> stringValue(std::string_view key) const override;
    void setString(std::string_view key, std::string_view value) override;
    void remove(std::string_view key) override;

private:
    std::map<std::string, std::variant<bool, std::string>, std::less<>> values;
};

} // namespace tavrik
