#include "tests/controller/ControllerTestSupport.hpp"

namespace tavrik::test {
namespace {

TEST_F(ControllerTest, SecureLoadRunsFromScanToConnected)
{
    FakeTavrik& tavrik = addDevice();
    tavrik.data.tags = { { 3, "04 A1", "Desk" } };
    loadFromDevice();

    ASSERT_TRUE(tavrik.lastSyncStart());
    EXPECT_EQ(tavrik.lastSyncStart()->mode, "load");
    EXPECT_EQ(tavrik.lastSyncStart()->code.size(), 4u);
    ASSERT_TRUE(tavrik.offeredDelivery());
    EXPECT_EQ(tavrik.offeredDelivery()->version, 1);
    EXPECT_EQ(tavrik.offeredDelivery()->window, 4);
    EXPECT_EQ(tavrik.offeredDelivery()->session, probe().dataService().reliableSession());
    EXPECT_EQ(central.lastScanServices, scanServiceUUIDs());

    EXPECT_TRUE(controller->isConnected());
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_EQ(controller->statusText(), "Connected");
    EXPECT_EQ(controller->syncStage(), SyncStage::idle());
    EXPECT_FALSE(probe().sessionMode());
    EXPECT_FALSE(probe().syncCode());
    EXPECT_EQ(controller->tags().size(), 1u);
    EXPECT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::m5StickS3);
    EXPECT_EQ(controller->deviceFirmwareVersion(), "1.4.0");
    EXPECT_EQ(controller->deviceSyncDataVersion(), 9);
    EXPECT_FALSE(controller->legacyFirmwareUpgradeRequired());
    EXPECT_EQ(probe().baselineSnapshot(), probe().currentSnapshot());
    for (const char* line : { "Starting load session", "Found Tavrik RSSI -50", "Connected to Tavrik",
             "Using secure BLE v2", "secure BLE v2 channel ready" }) {
        EXPECT_TRUE(logContains(line)) << line;
    }
    // No bound of the finished load outlives it.
    scheduler.advance(TavrikBleCentral::loadTimeout);
    EXPECT_EQ(controller->syncStage(), SyncStage::idle());
    EXPECT_TRUE(controller->isConnected());
}

TEST_F(ControllerTest, LegacyDeviceLoadsWithoutDeliveryOfferOrWifi)
{
    FakeTavrik& tavrik = addDevice(TavrikBleProtocolProfile::legacyUnencryptedV1);
    tavrik.data.hardwareTarget.reset();
    tavrik.data.wifi = WifiCapabilityPayload { 1, 8, {} };
    loadFromDevice();

    ASSERT_TRUE(tavrik.lastReceived("sync_start"));
    EXPECT_FALSE(tavrik.lastReceived("sync_start")->contains("delivery"));
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_TRUE(controller->legacyFirmwareUpgradeRequired());
    EXPECT_EQ(probe().activeBleProfile(), TavrikBleProtocolProfile::legacyUnencryptedV1);
    EXPECT_EQ(controller->deviceHardwareTarget(), FirmwareHardwareTarget::m5StickC);
    EXPECT_FALSE(controller->wifiSupported());
    EXPECT_EQ(controller->wifiCredentialCapacity(), 0);
    EXPECT_TRUE(logContains("Using legacy unencrypted BLE v1"));
}

TEST_F(ControllerTest, DeviceOfferingBothServicesIsUsedSecurely)
{
    FakeTavrik& tavrik = addDevice(TavrikBleProtocolProfile::legacyUnencryptedV1);
    tavrik.peripheral()->offerProfile(TavrikBleProtocolProfile::secureV2);
    makeController();
    controller->beginSession(SyncMode::load);
    settle();
    EXPECT_EQ(probe().activeBleProfile(), TavrikBleProtocolProfile::secureV2);
    EXPECT_TRUE(logContains("Using secure BLE v2"));
}

TEST_F(ControllerTest, ScanningWaitsForWorkAndForPower)
{
    addDevice();
    makeController();
    EXPECT_EQ(central.scanCount, 0);

    central.changeState(BleManagerState::poweredOn);
    settle();
    EXPECT_EQ(controller->statusText(), "Bluetooth ready");
    EXPECT_EQ(central.scanCount, 0);
    probe().startScanningIfPossible();
    EXPECT_EQ(controller->statusText(), "Bluetooth idle");
    EXPECT_EQ(central.scanCount, 0);

    central.changeState(BleManagerState::poweredOff);
    settle();
    EXPECT_EQ(controller->statusText(), "Bluetooth is powered off");
    EXPECT_TRUE(logContains("Bluetooth powered off"));
    controller->beginSession(SyncMode::load);
    EXPECT_EQ(controller->statusText(), "Bluetooth not available");
    EXPECT_EQ(central.scanCount, 0);

    central.changeState(BleManagerState::poweredOn);
    settle();
    EXPECT_GE(central.scanCount, 1);
    EXPECT_TRUE(controller->hasLoadedData());
}

TEST_F(ControllerTest, StateChangesShowTheirTexts)
{
    makeController();
    const std::vector<std::pair<BleManagerState, std::string>> cases {
        { BleManagerState::unknown, "Bluetooth unknown" },
        { BleManagerState::resetting, "Resetting Bluetooth" },
        { BleManagerState::unsupported, "Unsupported on this computer" },
        { BleManagerState::unauthorized, "Bluetooth access denied" },
    };
    for (const auto& [state, status] : cases) {
        probe().handleStateChange(state);
        EXPECT_EQ(controller->statusText(), status);
    }
    EXPECT_TRUE(logContains("Bluetooth unsupported"));
    EXPECT_TRUE(logContains("Bluetooth unauthorized"));
}

TEST_F(ControllerTest, UnnamedPeripheralIsDeviceWhenFoundAndClockWhenConnecting)
{
    device = std::make_unique<FakeTavrik>(scheduler, central, TavrikBleProtocolProfile::secureV2, std::nullopt);
    makeController();
    controller->beginSession(SyncMode::load);
    scheduler.runDue();
    EXPECT_TRUE(logContains("Found device RSSI -50"));
    EXPECT_TRUE(logContains("Connected to clock"));
}

TEST_F(ControllerTest, ConnectFailureReportsToTheWaitingSession)
{
    struct Case {
        std::optional<BleError> error;
        std::string status;
        std::string message;
        std::string logLine;
    };
    const std::vector<Case> cases {
        { BleError { "Peer removed pairing information", 14 }, "Pair Tavrik again",
            "Open the Bluetooth settings of your desktop and forget Tavrik, or run bluetoothctl remove "
            "AA:BB:CC:DD:EE:01. Then enable connection mode on Tavrik and reconnect to pair with its six-digit code. "
            "Your routines will not be deleted.",
            "Failed to connect: Peer removed pairing information" },
        { BleError { "Timed out", 6 }, "Connect failed", "Connect failed", "Failed to connect: Timed out" },
        { std::nullopt, "Connect failed", "Connect failed", "Failed to connect: unknown" },
    };
    // A command connection gives up at once (a load keeps looking for the device).
    for (const Case& test : cases) {
        SCOPED_TRACE(test.status);
        controller.reset();
        addDevice();
        makeController();
        central.failNextConnect(test.error);
        probe().persist(AtomicCommandChannel::tag, std::uint32_t { 1 }, { "delete id=1" }, false, std::nullopt);
        settle();
        EXPECT_EQ(controller->statusText(), test.status);
        EXPECT_EQ(controller->routineError(), test.message);
        EXPECT_FALSE(controller->isConnected());
        EXPECT_TRUE(logContains(test.logLine));
    }

    // A lost pairing needs the user, in a load too.
    controller.reset();
    addDevice();
    makeController();
    central.failNextConnect(cases[0].error);
    const int connectsBefore = central.connectCount;
    controller->beginSession(SyncMode::load);
    settle();
    EXPECT_EQ(controller->statusText(), cases[0].status);
    EXPECT_EQ(controller->syncStage(), SyncStage::failed(cases[0].message));
    EXPECT_EQ(central.connectCount, connectsBefore + 1);
}

TEST_F(ControllerTest, MissingDataCharacteristicMarksEveryPaneAndLetsGoOfTheLink)
{
    device = std::make_unique<FakeTavrik>(scheduler, central);
    auto bare = std::make_shared<FakeBlePeripheral>(scheduler, "AA:00", "Tavrik");
    bare->offerProfile(TavrikBleProtocolProfile::secureV2, false, true);
    central.removePeripheral(device->peripheral());
    central.addPeripheral(bare);
    makeController();
    controller->beginSession(SyncMode::load);
    settle();
    EXPECT_EQ(controller->scheduleError(), "Data channel unavailable");
    EXPECT_EQ(controller->tagError(), "Data channel unavailable");
    EXPECT_EQ(controller->routineError(), "Data channel unavailable");
    EXPECT_TRUE(logContains("Data characteristic missing"));
    EXPECT_FALSE(controller->isConnected());
    EXPECT_FALSE(central.isConnected(bare));
    EXPECT_FALSE(probe().dataCharacteristic());
}

TEST_F(ControllerTest, MissingFirmwareCharacteristicOnlyLogs)
{
    device = std::make_unique<FakeTavrik>(scheduler, central);
    central.removePeripheral(device->peripheral());
    auto noFirmware = std::make_shared<FakeBlePeripheral>(scheduler, "AA:01", "Tavrik");
    noFirmware->offerProfile(TavrikBleProtocolProfile::secureV2, true, false);
    central.addPeripheral(noFirmware);
    makeController();
    controller->beginSession(SyncMode::load);
    settle();
    EXPECT_TRUE(logContains("Firmware characteristic missing"));
    EXPECT_TRUE(probe().dataCharacteristic());
    EXPECT_FALSE(probe().firmwareCharacteristic());
    EXPECT_EQ(controller->statusText(), "Starting sync");
}

TEST_F(ControllerTest, ServiceDiscoveryFailuresStopTheAttempt)
{
    struct Case {
        std::function<void(FakeBlePeripheral&)> script;
        std::string status;
        std::string logLine;
    };
    const std::vector<Case> cases {
        { [](FakeBlePeripheral& p) {
             p.serviceDiscoveryError = BleError { "boom", 1 };
         },
            "Service error", "Service discovery error: boom" },
        { [](FakeBlePeripheral& p) { p.reportNoServices = true; }, "No services", "No services found" },
        { [](FakeBlePeripheral& p) {
             p.characteristicDiscoveryError = BleError { "bad", 2 };
         },
            "Characteristic error", "Characteristic error: bad" },
        { [](FakeBlePeripheral& p) { p.reportNoCharacteristics = true; }, "No characteristics", "No characteristics" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.status);
        controller.reset();
        addDevice();
        test.script(*device->peripheral());
        makeController();
        controller->beginSession(SyncMode::load);
        settle();
        EXPECT_EQ(controller->statusText(), test.status);
        EXPECT_TRUE(logContains(test.logLine));
        EXPECT_FALSE(device->lastSyncStart());
    }
}

TEST_F(ControllerTest, PeripheralWithoutTavrikServiceIsMissing)
{
    makeController();
    auto stranger = std::make_shared<FakeBlePeripheral>(scheduler, "AA:03", "Stranger");
    stranger->offerService(*Uuid::parse("0000180F-0000-1000-8000-00805F9B34FB"));
    stranger->discoverServices({});
    probe().handleServices(*stranger, std::nullopt);
    EXPECT_EQ(controller->statusText(), "Service missing");
    EXPECT_TRUE(logContains("Clock service missing"));
    EXPECT_FALSE(probe().activeBleProfile());
}

TEST_F(ControllerTest, SecurePairingFailureCancelsQuietly)
{
    addDevice().peripheral()->notifyError = BleError { "Insufficient encryption", 15 };
    makeController();
    controller->beginSession(SyncMode::load);
    const int scansBefore = central.scanCount;
    settle();
    const std::string message = "Secure Bluetooth pairing failed: Insufficient encryption";
    EXPECT_EQ(controller->syncStage(), SyncStage::failed(message));
    EXPECT_EQ(controller->statusText(), "Pairing failed");
    EXPECT_FALSE(central.isConnected(device->peripheral()));
    EXPECT_TRUE(logContains("Disconnected: ok"));
    EXPECT_FALSE(logContains("Tavrik disconnected; starting load session"));
    EXPECT_EQ(central.scanCount, scansBefore);
    EXPECT_FALSE(probe().isExpectingResetDisconnect());
}

TEST_F(ControllerTest, LegacySubscriptionFailureKeepsTheLink)
{
    addDevice(TavrikBleProtocolProfile::legacyUnencryptedV1).peripheral()->notifyError = BleError { "nope", 3 };
    makeController();
    controller->beginSession(SyncMode::load);
    settle();
    EXPECT_EQ(controller->syncStage(), SyncStage::failed("Legacy Bluetooth connection failed: nope"));
    EXPECT_EQ(controller->statusText(), "Connection failed");
    EXPECT_TRUE(central.isConnected(device->peripheral()));
}

TEST_F(ControllerTest, UnexpectedDisconnectAfterLoadStartsAFreshLoad)
{
    addDevice().data.tags = { { 1, "01", "One" } };
    loadFromDevice();
    ASSERT_TRUE(controller->hasLoadedData());
    const int startsBefore
        = static_cast<int>(std::count_if(device->receivedTexts().begin(), device->receivedTexts().end(),
            [](const std::string& text) { return text.find("sync_start") != std::string::npos; }));

    device->data.tags = { { 2, "02", "Two" } };
    central.dropLink(device->peripheral(), BleError { "Connection timed out", 6 });
    scheduler.runDue();

    EXPECT_TRUE(logContains("Disconnected: Connection timed out"));
    EXPECT_TRUE(logContains("Tavrik disconnected; starting load session"));
    const int startsAfter = static_cast<int>(std::count_if(device->receivedTexts().begin(), device->receivedTexts().end(),
        [](const std::string& text) { return text.find("sync_start") != std::string::npos; }));
    EXPECT_EQ(startsAfter, startsBefore + 1);
    ASSERT_EQ(controller->tags().size(), 1u);
    EXPECT_EQ(controller->tags()[0].name, "Two");
    EXPECT_TRUE(controller->hasLoadedData());
}

TEST_F(ControllerTest, DisconnectDuringRestoreFailsWithoutNewSession)
{
    addDevice();
    loadFromDevice();
    device->answerRestore = false;
    controller->startRestoreSession();
    settle();
    ASSERT_EQ(probe().sessionMode(), SyncMode::restore);
    const int scans = central.scanCount;
    central.dropLink(device->peripheral(), std::nullopt);
    settle();
    EXPECT_EQ(controller->syncStage(), SyncStage::failed("Tavrik disconnected while saving imported data"));
    EXPECT_EQ(controller->statusText(), "Import save disconnected");
    EXPECT_EQ(central.scanCount, scans);
    EXPECT_FALSE(controller->isConnected());
    EXPECT_FALSE(probe().targetPeripheral());
}

TEST_F(ControllerTest, ValuesFromOtherCharacteristicsOrPeripheralsNeverReachTheChannel)
{
    addDevice();
    loadFromDevice();
    const std::size_t lines = controller->logItems().size();
    const Data frame = makeFrame(BleDataChannel::plainFlags, 9, 0, 1, dataFromString(R"({"type":"bogus"})"));
    device->peripheral()->notify(frame, firmwareCharacteristicUUID(TavrikBleProtocolProfile::secureV2));
    auto stranger = std::make_shared<FakeBlePeripheral>(scheduler, "AA:04", "Stranger");
    stranger->offerProfile(TavrikBleProtocolProfile::secureV2);
    stranger->setDelegate(nullptr);
    static_cast<BlePeripheralDelegate*>(device->peripheral()->currentDelegate())
        ->peripheralDidUpdateValue(*stranger, *stranger->dataCharacteristic(), frame, std::nullopt);
    settle();
    EXPECT_EQ(controller->logItems().size(), lines);

    device->peripheral()->notify(frame);
    settle();
    EXPECT_TRUE(logContains("[ble:data] unhandled payload type bogus"));
}

TEST_F(ControllerTest, ReadErrorsAreLogged)
{
    addDevice();
    loadFromDevice();
    device->peripheral()->failRead(BleError { "Read failed", 4 });
    settle();
    EXPECT_TRUE(logContains("Bluetooth read failed: Read failed"));
}

} // namespace
} // namespace tavrik::test

namespace tavrik::test {
namespace {

// The disconnect of a link the controller cut itself is not the device going away.
TEST_F(ControllerTest, NewSessionWhileConnectedIsNotTakenForALostDevice)
{
    addDevice();
    loadFromDevice();
    controller->beginSession(SyncMode::load);
    settle();
    EXPECT_TRUE(controller->hasLoadedData());
    EXPECT_TRUE(controller->isConnected());
    EXPECT_FALSE(logContains("Tavrik disconnected; starting load session"));
    EXPECT_EQ(central.connectCount, 2);

    central.removePeripheral(device->peripheral());
    controller->beginSession(SyncMode::load); // nothing in range: the load waits
    probe().persist(AtomicCommandChannel::tag, std::uint32_t { 1 }, { "delete id=1" }, false, std::nullopt);
    controller->beginSession(SyncMode::control);
    settle();
    EXPECT_EQ(probe().sessionMode(), SyncMode::control);
    EXPECT_FALSE(logContains("Tavrik disconnected; starting load session"));
    // The control session kept the edit: the device gets it once it is back in range.
    const std::size_t before = device->receivedCommands().size();
    central.addPeripheral(device->peripheral());
    settle();
    const std::vector<std::string> commands = device->receivedCommands();
    EXPECT_EQ(std::vector<std::string>(commands.begin() + static_cast<std::ptrdiff_t>(before), commands.end()),
        (std::vector<std::string> { "tag:delete id=1" }));
}

} // namespace
} // namespace tavrik::test
