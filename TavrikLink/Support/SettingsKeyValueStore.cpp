#include "TavrikLink/Support/SettingsKeyValueStore.hpp"

#include <QStandardPaths>

#include <filesystem>
#include <system_error>

namespace tavrik {

namespace {

QString keyText(std::string_view key)
{
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

// Where QSettings keeps the user's INI file for this organisation and application.
QString userSettingsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Tavrik/Tavrik Link.ini");
}

bool isAbsentOrRegular(const QString& fileName)
{
    std::error_code error;
    const auto status = std::filesystem::status(fileName.toStdString(), error);
    return status.type() == std::filesystem::file_type::not_found || status.type() == std::filesystem::file_type::regular;
}

} // namespace

SettingsKeyValueStore::SettingsKeyValueStore()
    : SettingsKeyValueStore(userSettingsFile())
{
}

SettingsKeyValueStore::SettingsKeyValueStore(const QString& fileName)
    : path(fileName)
{
    // QSettings reads its file as it is made, so the check comes first.
    if (!isAbsentOrRegular(path)) {
        setProblem("Settings: " + path.toStdString()
            + " is not a regular file; settings are kept only until Tavrik Link quits");
        return;
    }
    settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
}

SettingsKeyValueStore::~SettingsKeyValueStore() = default;

void SettingsKeyValueStore::onProblem(std::function<void(const std::string& message)> handler)
{
    report = std::move(handler);
    if (problemText && !told && report) {
        told = true;
        report(*problemText);
    }
}

void SettingsKeyValueStore::setProblem(std::string message)
{
    if (problemText) {
        return;
    }
    problemText = std::move(message);
    if (report) {
        told = true;
        report(*problemText);
    }
}

void SettingsKeyValueStore::saved()
{
    settings->sync();
    if (settings->status() == QSettings::AccessError) {
        // QSettings keeps the values it could not write, so they still hold for this run.
        setProblem(
            "Settings: " + path.toStdString() + " cannot be written; settings are kept only until Tavrik Link quits");
    }
}

std::optional<bool> SettingsKeyValueStore::boolValue(std::string_view key) const
{
    if (!settings) {
        return unsaved.boolValue(key);
    }
    const QVariant value = settings->value(keyText(key));
    if (!value.isValid()) {
        return std::nullopt;
    }
    // INI files keep every value as text; only the two spellings QSettings writes count as Booleans.
    const QString text = value.toString();
    if (text == QLatin1String("true")) {
        return true;
    }
    if (text == QLatin1String("false")) {
        return false;
    }
    return std::nullopt;
}

void SettingsKeyValueStore::setBool(std::string_view key, bool value)
{
    if (!settings) {
        unsaved.setBool(key, value);
        return;
    }
    settings->setValue(keyText(key), value);
    saved();
}

std::optional<std::string> SettingsKeyValueStore::stringValue(std::string_view key) const
{
    if (!settings) {
        return unsaved.stringValue(key);
    }
    const QVariant value = settings->value(keyText(key));
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

void SettingsKeyValueStore::setString(std::string_view key, std::string_view value)
{
    if (!settings) {
        unsaved.setString(key, value);
        return;
    }
    settings->setValue(keyText(key), keyText(value));
    saved();
}

void SettingsKeyValueStore::remove(std::string_view key)
{
    if (!settings) {
        unsaved.remove(key);
        return;
    }
    settings->remove(keyText(key));
    saved();
}

} // namespace tavrik
