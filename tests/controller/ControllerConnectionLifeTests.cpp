#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

// How a connection lives on a desk: devices that sleep, connects that fail, ejects at any moment.
class ControllerConnectionLifeTest : public ControllerTest {
protected:
    bool startedFreshLoadAfterDrop() const { return logContains("Tavrik disconnected; starting load session"); }
};

TEST_F(ControllerConnectionLifeTest, AnEjectDuringAPendingConnectLeavesTheNextDropUnexpected)
{
    addDevice();
    central.connectsHang = true;
    loadFromDevice();
    ASSERT_TRUE(controller->targetPeripheral());
    ASSERT_FALSE(controller->isConnected());

    // The connect is cancelled quietly, as Qt does: no disconnect is reported for it.
    controller->ejectTavrik();
    settle();
    EXPECT_FALSE(controller->isExpectingResetDisconnect());

    central.connectsHang = false;
    central.completePendingConnects();
    settle();
    ASSERT_TRUE(controller->hasLoadedData());

    // The next real drop is the device going away: fresh data is loaded, nothing stale stays.
    device->data.tags = { { 5, "05", "Five" } };
    central.dropLink(device->peripheral(), BleError { "Connection timed out", 6 });
    settle();
    EXPECT_TRUE(startedFreshLoadAfterDrop());
    ASSERT_EQ(controller->tags().size(), 1U);
    EXPECT_EQ(controller->tags()[0].name, "Five");
    EXPECT_TRUE(controller->isConnected());
}

} // namespace
} // namespace tavrik::test
