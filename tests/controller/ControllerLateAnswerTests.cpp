#include "tests/controller/ControllerTestSupport.hpp"

#include "TavrikCore/Support/Text.hpp"

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

// The user edits at an ordinary pace while the device answers each command a moment later with its
// whole list as it then stands: an answer to an older edit must never undo a newer one.
class ControllerLateAnswerTest : public ControllerTest {
protected:
    static constexpr std::chrono::milliseconds latency { 300 };

    void SetUp() override
    {
        FakeTavrik& tavrik = addDevice();
        tavrik.data.tags = { { 1, "01", "Hall" } };
        tavrik.data.routines = { { 1, "Morning", {}, {}, {} } };
        ScheduledRoutine schedule;
        schedule.id = 1;
        schedule.routineId = 1;
        schedule.hour = 8;
        schedule.days = 127;
        schedule.enabled = true;
        schedule.type = "recurring";
        tavrik.data.schedules = { schedule };
        tavrik.answerCommand = [this](const std::string& channel, const std::string& command) {
            applyOnDevice(channel, command);
            answerLater(channel);
            return std::vector<Json> {};
        };
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
    }

    // The text after "<name>=", without its quotes; the device keeps names without trailing blanks.
    static std::optional<std::string> argument(const std::string& command, const std::string& name)
    {
        const std::size_t at = command.find(" " + name + "=");
        if (at == std::string::npos) {
            return std::nullopt;
        }
        std::string value = command.substr(at + name.size() + 2);
        if (value.size() >= 2 && value.front() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        return value;
    }

    void applyOnDevice(const std::string& channel, const std::string& command)
    {
        if (channel == "tag" && command.starts_with("update id=1 ")) {
            TagInfo& tag = device->data.tags.at(0);
            tag.name = text::trimmed(argument(command, "name").value_or(tag.name));
            tag.uid = argument(command, "uid").value_or(tag.uid);
        } else if (channel == "schedule" && command.starts_with("update id=1 ")) {
            ScheduledRoutine& schedule = device->data.schedules.at(0);
            schedule.hour = std::stoll(argument(command, "hour").value_or(std::to_string(schedule.hour)));
            schedule.minute = std::stoll(argument(command, "minute").value_or(std::to_string(schedule.minute)));
        }
    }

    void answerLater(const std::string& channel)
    {
        Json message;
        if (channel == "tag") {
            Json tags = Json::array();
            for (const TagInfo& tag : device->data.tags) {
                tags.push_back(toJson(tag));
            }
            message = { { "type", "tags_state" }, { "tags", tags } };
        } else {
            Json schedules = Json::array();
            for (const ScheduledRoutine& schedule : device->data.schedules) {
                schedules.push_back(toJson(schedule));
            }
            message = { { "type", "state" }, { "schedules", schedules } };
        }
        scheduler.schedule(latency, [this, message] { device->send(message); });
    }
};

TEST_F(ControllerLateAnswerTest, ARenameTypedAtAnOrdinaryPaceIsNeverUndoneAndTheLastAnswerSettlesIt)
{
    // About four keys a second: each key's rename goes out before the next key, and its answer
    // comes after it.
    const std::string typed = "X0123456789 ";
    std::string entered;
    for (const char key : typed) {
        entered.push_back(key);
        controller->updateTag(1, entered);
        scheduler.advance(250ms);
        ASSERT_EQ(controller->tags().at(0).name, entered) << "an answer to an older rename came back";
    }
    scheduler.advance(1s);
    EXPECT_EQ(device->data.tags.at(0).name, "X0123456789");
    // The device keeps the name without its trailing blank: its answer to the last rename says so.
    EXPECT_EQ(controller->tags().at(0).name, "X0123456789");
}

TEST_F(ControllerLateAnswerTest, AnAnswerToTheHourKeepsTheNewerMinute)
{
    controller->setScheduleHour(1, 9);
    scheduler.advance(400ms); // the hour went out at 200 ms
    controller->setScheduleMinute(1, 30);
    scheduler.advance(150ms); // the device's answer to the hour, with the old minute, while the minute waits
    ASSERT_EQ(device->data.schedules.at(0).minute, 0);
    EXPECT_EQ(controller->schedules().at(0).hour, 9);
    EXPECT_EQ(controller->schedules().at(0).minute, 30);

    scheduler.advance(1s);
    EXPECT_EQ(device->data.schedules.at(0).minute, 30);
    EXPECT_EQ(controller->schedules().at(0).hour, 9);
    EXPECT_EQ(controller->schedules().at(0).minute, 30);

    // With nothing of its own waiting, the window shows what the device says.
    device->data.schedules.at(0).hour = 7;
    answerLater("schedule");
    scheduler.advance(1s);
    EXPECT_EQ(controller->schedules().at(0).hour, 7);
}

} // namespace
} // namespace tavrik::test
