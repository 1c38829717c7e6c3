#include "TavrikCore/Routine/RoutineDraft.hpp"
#include "tests/controller/ControllerTestSupport.hpp"

#include <functional>
#include <string>
#include <vector>

namespace tavrik::test {
namespace {

// With a device attached, a title edit is delivered on each key press: the data known to be on the
// device must follow the edit without copying every routine, and still hold what was delivered when
// something the device has not confirmed changes the data afterwards.
class ControllerBaselineTest : public ControllerTest {
protected:
    void SetUp() override
    {
        FakeTavrik& tavrik = addDevice();
        tavrik.data.dataVersion = 9;
        tavrik.data.tags = { { 1, "04 A1", "Desk" } };
        tavrik.data.routines
            = { { 1, "Morning", { { 1, 0, 0, "1", 60, "Wake", 0 } }, {}, {} }, { 2, "Evening", {}, {}, {} } };
        loadFromDevice();
        ASSERT_TRUE(controller->hasLoadedData());
        ASSERT_TRUE(controller->isConnected());
    }

    void rename(std::uint32_t id, const std::string& label)
    {
        RoutineDraft draft(controller->routineDetails().at(id));
        draft.label = label;
        ASSERT_TRUE(controller->updateRoutine(id, draft));
        settle();
    }
};

TEST_F(ControllerBaselineTest, AnAttachedTitleEditFollowsTheDataAndALaterChangeStillShowsAsUnsaved)
{
    struct Case {
        std::string name;
        std::function<void()> change;
    };
    const std::vector<Case> cases {
        { "tags cleared", [this] { probe().resetTagState(); } },
        { "routines cleared", [this] { probe().resetRoutineState(); } },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        loadFromDevice();
        rename(1, "Morning r");
        const std::vector<std::string> commands = device->receivedCommands();
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands.back(), "routine:update id=1 label=\"Morning r\"");
        // Delivered: nothing was copied for the baseline, on this key press or the next.
        EXPECT_TRUE(probe().baselineFollowsData());
        rename(1, "Morning ru");
        EXPECT_TRUE(probe().baselineFollowsData());
        const SyncSnapshot delivered = probe().currentSnapshot();

        test.change();
        ASSERT_NE(probe().currentSnapshot(), delivered);
        EXPECT_EQ(probe().baselineSnapshot(), delivered);
        EXPECT_EQ(probe().baselineSnapshot(), delivered) << "read twice, it stays what was delivered";
    }
}

} // namespace
} // namespace tavrik::test
