#include "TavrikLink/Support/KeyValueStore.hpp"
#include "TavrikLink/Support/SettingsKeyValueStore.hpp"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

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

} // namespace
} // namespace tavrik::test
