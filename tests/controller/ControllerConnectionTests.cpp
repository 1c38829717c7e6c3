#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

using Kind = SyncStage::Kind;

TEST_F(ControllerTest, SecureLoadRunsFromScanToConnected)
{
    FakeTavrik& tavrik = addDevice();
    tavrik.data.tags = { { 3, "04 A1", "Desk" } };
    loadFromDevice();

    ASSERT_TRUE(tavrik.lastSyncStart());
    EXPECT_EQ(tavrik.lastSyncStart()->mode, "load");
    EXPECT_EQ(tavrik.lastSyncStart()->code, *tavrik.lastReceived("sync_start")->find("code"));
    ASSERT_TRUE(tavrik.offeredDelivery());
    EXPECT_EQ(tavrik.offeredDelivery()->window, 4);
    EXPECT_EQ(tavrik.offeredDelivery()->session, controller->dataService().reliableSession());

    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_EQ(controller->statusText(), "Connected");
    EXPECT_EQ(controller->syncStage(), SyncStage::idle());
    EXPECT_FALSE(controller->sessionMode());
    EXPECT_EQ(controller->tags().size(), 1u);
    EXPECT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::m5StickS3);
    EXPECT_EQ(controller->deviceSyncDataVersion(), 9);
    EXPECT_EQ(controller->baselineSnapshot(), controller->currentSnapshot());
    EXPECT_TRUE(logContains("Using secure BLE v2"));
    EXPECT_TRUE(logContains("secure BLE v2 channel ready"));
}

} // namespace
} // namespace tavrik::test
