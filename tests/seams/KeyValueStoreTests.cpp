#include "TavrikLink/Support/KeyValueStore.hpp"
#include "TavrikLink/Support/SettingsKeyValueStore.hpp"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

namespace tavrik::test {
namespace {

void checkRoundTrip(KeyValueStore& store)
{
    EXPECT_EQ(store.boolValue("tavrik.muteNonAlarmSounds"), std::nullopt);
    store.setBool("tavrik.muteNonAlarmSounds", true);
    EXPECT_EQ(store.boolValue("tavrik.muteNonAlarmSounds"), true);
    store.setBool("tavrik.muteNonAlarmSounds", false);
    EXPECT_EQ(store.boolValue("tavrik.muteNonAlarmSounds"), false);
    store.setString("name", "Käse");
    EXPECT_EQ(store.stringValue("name"), "Käse");
    EXPECT_EQ(store.boolValue("name"), std::nullopt) << "text is not a Boolean";
    store.remove("tavrik.muteNonAlarmSounds");
    EXPECT_EQ(store.boolValue("tavrik.muteNonAlarmSounds"), std::nullopt);
}

TEST(KeyValueStoreTests, InMemoryStoreRoundTrips)
{
    InMemoryKeyValueStore store;
    checkRoundTrip(store);
}

TEST(KeyValueStoreTests, SettingsStoreRoundTripsAndPersists)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("settings.ini"));
    {
        SettingsKeyValueStore store(file);
        checkRoundTrip(store);
        store.setBool("tavrik.muteNonAlarmSounds", true);
    }
    SettingsKeyValueStore reopened(file);
    EXPECT_EQ(reopened.boolValue("tavrik.muteNonAlarmSounds"), true);
}

TEST(KeyValueStoreTests, TheUsersStoreIsTheFileQSettingsKeepsForTheProgram)
{
    EXPECT_EQ(SettingsKeyValueStore().fileName(),
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tavrik"), QStringLiteral("Tavrik Link"))
            .fileName());
}

// A settings file that cannot keep the settings: they still hold for the run, and the problem is
// told once however many changes follow. A pipe must not block the start either.
struct UnsavedSettingsCase {
    const char* name;
    // Makes the unusable file under the folder and gives its path.
    QString (*make)(const QTemporaryDir& dir);
    const char* problem;
};

void PrintTo(const UnsavedSettingsCase& value, std::ostream* out)
{
    *out << value.name;
}

class UnsavedSettingsTest : public ::testing::TestWithParam<UnsavedSettingsCase> { };

TEST_P(UnsavedSettingsTest, KeepsTheSettingsForTheRunAndTellsTheProblemOnce)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = GetParam().make(dir);
    ASSERT_FALSE(file.isEmpty());

    SettingsKeyValueStore store(file);
    std::vector<std::string> told;
    store.onProblem([&](const std::string& message) { told.push_back(message); });
    checkRoundTrip(store);
    store.setString("name", "again");
    EXPECT_EQ(store.stringValue("name"), "again");

    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told.front(), "Settings: " + file.toStdString() + GetParam().problem);
    EXPECT_EQ(store.problem(), told.front());
}

INSTANTIATE_TEST_SUITE_P(File, UnsavedSettingsTest,
    ::testing::Values(UnsavedSettingsCase { "IsANamedPipe",
                          [](const QTemporaryDir& dir) {
                              const QString file = dir.filePath(QStringLiteral("settings.ini"));
                              return ::mkfifo(QFile::encodeName(file).constData(), 0600) == 0 ? file : QString();
                          },
                          " is not a regular file; settings are kept only until Tavrik Link quits" },
        // Its folder would have to be where a file is: no permission lets it be written, not even root's.
        UnsavedSettingsCase { "CannotBeWritten",
            [](const QTemporaryDir& dir) {
                QFile blocker(dir.filePath(QStringLiteral("Tavrik")));
                return blocker.open(QIODevice::WriteOnly) ? dir.filePath(QStringLiteral("Tavrik/settings.ini"))
                                                          : QString();
            },
            " cannot be written; settings are kept only until Tavrik Link quits" }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tavrik::test
