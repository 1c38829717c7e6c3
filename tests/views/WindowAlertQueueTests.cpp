#include "TavrikLink/Views/WindowAlertQueue.hpp"

#include <gtest/gtest.h>

#include <QSignalSpy>

namespace tavrik::test {
namespace {

using Alert = WindowAlertQueue::Alert;
using Button = WindowAlertQueue::Button;
using Role = WindowAlertQueue::Button::Role;

TEST(WindowAlertQueue, ShowsOneAlertAtATimeInOrderAndEachNoticeOnce)
{
    WindowAlertQueue queue;
    QSignalSpy shown(&queue, &WindowAlertQueue::currentChanged);
    std::vector<std::string> pressed;
    const auto alert = [&](std::string key) {
        return Alert { key, key, "",
            { { "OK", Role::normal, [&pressed, key] { pressed.push_back(key); } },
                { "Cancel", Role::cancel, [&pressed, key] { pressed.push_back(key + " cancelled"); } } } };
    };
    queue.raise(alert("firmware:A"));
    queue.raise(alert("wifi:B"));
    queue.raise(alert("firmware:A")); // the same notice again: not a second alert
    EXPECT_EQ(queue.keys(), (std::vector<std::string> { "firmware:A", "wifi:B" }));
    EXPECT_EQ(shown.count(), 1);

    queue.answer(0);
    EXPECT_EQ(queue.current()->key, "wifi:B");
    queue.raise(alert("firmware:A")); // answered, so it may show again
    queue.dismiss();
    EXPECT_EQ(pressed, (std::vector<std::string> { "firmware:A", "wifi:B cancelled" }));
    EXPECT_EQ(queue.current()->key, "firmware:A");

    // A withdrawn alert goes without running anything, shown or waiting.
    queue.raise(alert("firmware:C"));
    queue.withdrawKind("firmware:", "firmware:C");
    EXPECT_EQ(queue.keys(), (std::vector<std::string> { "firmware:C" }));
    queue.withdraw("firmware:C");
    EXPECT_EQ(queue.current(), nullptr);
    EXPECT_EQ(pressed.size(), 2u);
    queue.answer(0); // nothing shown: nothing happens
}

TEST(WindowAlertQueue, AnActionMayRaiseTheNextAlert)
{
    WindowAlertQueue queue;
    queue.raise({ "first", "First", "", { { "Next", Role::normal, [&] {
                                               queue.raise({ "second", "Second", "", {} });
                                           } } } });
    queue.answer(0);
    ASSERT_NE(queue.current(), nullptr);
    EXPECT_EQ(queue.current()->key, "second");
    queue.dismiss(); // no cancel button: it just closes
    EXPECT_EQ(queue.current(), nullptr);
}

TEST(WindowAlertQueue, ReturnNeverPressesADestructiveButton)
{
    const Button plain { "Install", Role::normal, {} };
    const Button cancel { "Cancel", Role::cancel, {} };
    const Button erase { "Install over USB", Role::destructive, {} };
    const std::vector<std::pair<std::vector<Button>, std::optional<std::size_t>>> cases {
        { { plain, cancel }, 0 },
        { { cancel, plain }, 1 },
        { { erase, cancel }, 1 },
        { { cancel, erase, plain }, 0 },
        { { erase }, std::nullopt },
        { { cancel }, std::nullopt },
        { {}, std::nullopt },
    };
    for (const auto& [buttons, expected] : cases) {
        EXPECT_EQ(WindowAlertQueue::defaultButton(Alert { "key", "Title", "", buttons }), expected)
            << buttons.size() << " buttons";
    }
}

TEST(TimeSyncPrompt, DriftAndMessageTexts)
{
    const std::vector<std::pair<std::int64_t, std::string>> drifts {
        { 0, "0s" },
        { 59, "59s" },
        { -5, "-5s" },
        { -3600, "-3600s" },
        { 60, "1m 00s" },
        { 3599, "59m 59s" },
        { 3600, "1h 00m" },
        { 7322, "2h 02m" },
    };
    for (const auto& [seconds, text] : drifts) {
        EXPECT_EQ(formattedTimeDrift(seconds), text) << seconds;
    }

    TimeSyncNotice notice(DeviceClockSnapshot {}, "Jan 1, 2025 at 10:00", "Jan 1, 2025 at 10:01", 61);
    EXPECT_EQ(timeSyncMessage(notice),
        "Tavrik time: Jan 1, 2025 at 10:00\nComputer time: Jan 1, 2025 at 10:01\nDifference: 1m 01s\n"
        "Allow Tavrik Link to update Tavrik to this computer's time?");
    notice.driftSeconds.reset();
    EXPECT_EQ(timeSyncMessage(notice),
        "Tavrik time: Jan 1, 2025 at 10:00\nComputer time: Jan 1, 2025 at 10:01\nTavrik reported an invalid clock.\n"
        "Allow Tavrik Link to update Tavrik to this computer's time?");
}

} // namespace
} // namespace tavrik::test
