#pragma once

#include "TavrikLink/Support/KeyValueStore.hpp"

#include <QSettings>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace tavrik {

// User defaults kept by QSettings (an INI file in the user's configuration directory). When the
// file cannot hold them (it is not a regular file, or it cannot be written) they last only for
// this run, and the problem is told once.
class SettingsKeyValueStore final : public KeyValueStore {
public:
    SettingsKeyValueStore();
    explicit SettingsKeyValueStore(const QString& fileName);
    ~SettingsKeyValueStore() override;

    std::optional<bool> boolValue(std::string_view key) const override;
    void setBool(std::string_view key, bool value) override;
    std::optional<std::string> stringValue(std::string_view key) const override;
    void setString(std::string_view key, std::string_view value) override;
    void remove(std::string_view key) override;

    const QString& fileName() const { return path; }
    // Why the settings are not saved; none while they are.
    const std::optional<std::string>& problem() const { return problemText; }
    // Called once with the problem: at once when it is already known, or when a save first fails.
    void onProblem(std::function<void(const std::string& message)> handler);

private:
    void saved();
    void setProblem(std::string message);

    QString path;
    // None when the file is not a regular file: reading a pipe or a device would block or never end.
    std::unique_ptr<QSettings> settings;
    InMemoryKeyValueStore unsaved;
    std::optional<std::string> problemText;
    std::function<void(const std::string&)> report;
    bool told = false;
};

} // namespace tavrik
