#include "TavrikLink/Support/SettingsKeyValueStore.hpp"

namespace tavrik {

namespace {

QString keyText(std::string_view key)
{
    return QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
}

} // namespace

SettingsKeyValueStore::SettingsKeyValueStore()
    : settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tavrik"), QStringLiteral("Tavrik Link"))
{
}

SettingsKeyValueStore::SettingsKeyValueStore(const QString& fileName)
    : settings(fileName, QSettings::IniFormat)
{
}

std::optional<bool> SettingsKeyValueStore::boolValue(std::string_view key) const
{
    const QVariant value = settings.value(keyText(key));
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
    settings.setValue(keyText(key), value);
    settings.sync();
}

std::optional<std::string> SettingsKeyValueStore::stringValue(std::string_view key) const
{
    const QVariant value = settings.value(keyText(key));
    if (!value.isValid()) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

void SettingsKeyValueStore::setString(std::string_view key, std::string_view value)
{
    settings.setValue(keyText(key), keyText(value));
    settings.sync();
}

void SettingsKeyValueStore::remove(std::string_view key)
{
    settings.remove(keyText(key));
    settings.sync();
}

} // namespace tavrik
