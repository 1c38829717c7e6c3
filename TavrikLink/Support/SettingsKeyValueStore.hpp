#pragma once

#include "TavrikLink/Support/KeyValueStore.hpp"

#include <QSettings>

namespace tavrik {

// User defaults kept by QSettings (an INI file in the user's configuration directory).
class SettingsKeyValueStore final : public KeyValueStore {
public:
    SettingsKeyValueStore();
    explicit SettingsKeyValueStore(const QString& fileName);

    std::optional<bool> boolValue(std::string_view key) const override;
    void setBool(std::string_view key, bool value) override;
    std::optional<std::string> stringValue(std::string_view key) const override;
    void setString(std::string_view key, std::string_view value) override;
    void remove(std::string_view key) override;

private:
    mutable QSettings settings;
};

} // namespace tavrik
