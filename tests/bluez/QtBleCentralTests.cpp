#include "tests/bluez/BluezTestSupport.hpp"

#include "TavrikCore/Link/BleDataFrame.hpp"

namespace tavrik::test {
namespace {

using Kind = CentralEvent::Kind;

TEST_F(BluezTest, OnlyDevicesHeardDuringTheScanAreReportedOncePerScan)
{
    startPoweredCentral();
    MockTavrik paired; // known to BlueZ before the scan starts, asleep: no RSSI
    paired.asleep = true;
    MockTavrik legacy;
    legacy.path = adapterPath + QStringLiteral("/dev_AA_BB_CC_DD_EE_02");
    legacy.address = QStringLiteral("AA:BB:CC:DD:EE:02");
    legacy.profile = TavrikBleProtocolProfile::legacyUnencryptedV1;
    addTavrik(paired);

    inside([&] { central->scanForPeripherals(scanServiceUUIDs()); });
    EXPECT_TRUE(central->isScanning());

    // A heart-rate monitor appears, then a legacy Tavrik: only the Tavrik is reported, and the paired
    // one that BlueZ merely remembers is not.
    addDevice(adapterPath + QStringLiteral("/dev_AA_BB_CC_DD_EE_03"), QStringLiteral("AA:BB:CC:DD:EE:03"),
        { QStringLiteral("0000180d-0000-1000-8000-00805f9b34fb") }, true);
    addTavrik(legacy, true);
    ASSERT_TRUE(waitFor([&] { return recorder.discoveries(legacy.address.toStdString()) == 1; }));
    EXPECT_EQ(recorder.discoveries(paired.address.toStdString()), 0);
    EXPECT_EQ(recorder.discoveries("AA:BB:CC:DD:EE:03"), 0);

    // The paired one wakes up and advertises: BlueZ gives it an RSSI. Later changes report nothing more.
    advertise(paired, -60);
    ASSERT_TRUE(waitFor([&] { return recorder.discoveries(paired.address.toStdString()) == 1; }));
    advertise(paired, -80);
    advertise(legacy, -75);
    ASSERT_TRUE(barrier());
    EXPECT_EQ(recorder.discoveries(paired.address.toStdString()), 1);
    EXPECT_EQ(recorder.discoveries(legacy.address.toStdString()), 1);
    EXPECT_FALSE(recorder.calledSynchronously);

    // A new scan, even one started over a running scan, reports a device again once it is heard
    // again, with the same peripheral object.
    inside([&] { central->scanForPeripherals(scanServiceUUIDs()); });
    ASSERT_TRUE(barrier());
    EXPECT_EQ(recorder.discoveries(paired.address.toStdString()), 1);
    advertise(paired, -65);
    ASSERT_TRUE(waitFor([&] { return recorder.discoveries(paired.address.toStdString()) == 2; }));
    std::vector<std::shared_ptr<BlePeripheral>> reports;
    for (const auto& event : recorder.central) {
        if (event.kind == Kind::discover && event.peripheral->identifier() == paired.address.toStdString()) {
            reports.push_back(event.peripheral);
        }
    }
    ASSERT_EQ(reports.size(), 2U);
    EXPECT_EQ(reports[0], reports[1]);
    EXPECT_EQ(reports[1]->name(), std::optional<std::string>("Tavrik"));
    EXPECT_FALSE(recorder.calledSynchronously);
}

struct ProfileCase {
    const char* name;
    TavrikBleProtocolProfile profile;
    bool dataCharacteristic;
};

void PrintTo(const ProfileCase& value, std::ostream* out)
{
    *out << value.name;
}

class BluezProfileTest : public BluezTest, public ::testing::WithParamInterface<ProfileCase> { };

TEST_P(BluezProfileTest, ConnectsAndFindsTheProfileCharacteristics)
{
    startPoweredCentral();
    MockTavrik tavrik;
    tavrik.profile = GetParam().profile;
    tavrik.dataCharacteristic = GetParam().dataCharacteristic;
    addTavrik(tavrik);
    const auto peripheral = connectTo(tavrik);
    ASSERT_TRUE(peripheral);

    EXPECT_EQ(peripheral->services(), std::optional(std::vector<Uuid> { serviceUUID(tavrik.profile) }));
    EXPECT_EQ(chooseTavrikBleProtocolProfile(*peripheral->services()), tavrik.profile);
    const auto firmware = characteristic(*peripheral, tavrik.profile, firmwareCharacteristicUUID(tavrik.profile));
    ASSERT_TRUE(firmware);
    EXPECT_TRUE(firmware->has(bleWriteWithoutResponse));
    const auto data = characteristic(*peripheral, tavrik.profile, dataCharacteristicUUID(tavrik.profile));
    EXPECT_EQ(data.has_value(), tavrik.dataCharacteristic);
    if (data) {
        EXPECT_TRUE(data->has(bleNotify));
        EXPECT_TRUE(data->has(bleWrite));
        EXPECT_FALSE(data->isNotifying);
        attachDataChannel(peripheral, tavrik);
        EXPECT_EQ(notifyCallsTo(tavrik.dataPath()), QStringList { QStringLiteral("StartNotify") });
        EXPECT_TRUE(characteristic(*peripheral, tavrik.profile, data->uuid)->isNotifying);
    }
    EXPECT_EQ(recorder.count(Kind::connect), 1);
    EXPECT_EQ(recorder.count(Kind::failToConnect), 0);
    EXPECT_FALSE(recorder.calledSynchronously);
}

INSTANTIATE_TEST_SUITE_P(Profiles, BluezProfileTest,
    ::testing::Values(ProfileCase { "secure", TavrikBleProtocolProfile::secureV2, true },
        ProfileCase { "legacy", TavrikBleProtocolProfile::legacyUnencryptedV1, true },
        ProfileCase { "withoutDataCharacteristic", TavrikBleProtocolProfile::secureV2, false }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BluezTest, OnlyNotificationsAfterSubscriptionReachTheDataChannel)
{
    startPoweredCentral();
    const MockTavrik tavrik;
    addTavrik(tavrik);
    const auto peripheral = connectTo(tavrik);
    ASSERT_TRUE(peripheral);
    const auto data = attachChannelOnly(peripheral, tavrik);
    ASSERT_TRUE(data);

    // A value change before the subscription (as BlueZ shows after a read) is no notification.
    const std::string early = "early";
    mock.call(QStringLiteral("Notify"), { tavrik.dataPath(), QByteArray::fromStdString(early) });
    inside([&] { peripheral->setNotifyValue(true, *data); });
    ASSERT_TRUE(waitFor([&] { return recorder.notifyDone; }));

    const std::string payload = R"({"type":"hello"})";
    const auto frame
        = makeFrame(0, 7, 0, 1, std::span(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()));
    mock.call(QStringLiteral("Notify"),
        { tavrik.dataPath(),
            QByteArray(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size())) });
    ASSERT_TRUE(waitFor([&] { return !messages.empty(); }));
    EXPECT_EQ(messages, std::vector<std::string> { payload });
    EXPECT_EQ(recorder.values, std::vector<Data> { frame });
    EXPECT_FALSE(recorder.calledSynchronously);
}

TEST_F(BluezTest, WritesCarryTheirTypeAndWritesWithResponseComplete)
{
    startPoweredCentral();
    const MockTavrik tavrik;
    addTavrik(tavrik);
    const auto peripheral = connectTo(tavrik);
    ASSERT_TRUE(peripheral);
    attachDataChannel(peripheral, tavrik);
    const auto firmware = characteristic(*peripheral, tavrik.profile, firmwareCharacteristicUUID(tavrik.profile));
    ASSERT_TRUE(firmware);

    // A chunk without response between two commands: Qt confirms only the commands.
    inside([&] {
        EXPECT_TRUE(channel->sendCommand("system", "ping"));
        peripheral->writeValue(Data { 1, 2, 3 }, *firmware, BleWriteType::withoutResponse);
        EXPECT_TRUE(channel->sendCommand("system", "pong"));
    });
    ASSERT_TRUE(waitFor([&] { return recorder.writeResults.size() == 2; }));
    EXPECT_EQ(recorder.writeResults, (std::vector<std::optional<BleError>> { std::nullopt, std::nullopt }));

    const auto dataWrites = writesTo(tavrik.dataPath());
    ASSERT_EQ(dataWrites.size(), 2U);
    EXPECT_EQ(dataWrites[0].type, QStringLiteral("request"));
    EXPECT_EQ(dataWrites[1].type, QStringLiteral("request"));
    EXPECT_TRUE(dataWrites[0].value.contains("system:ping"));
    EXPECT_TRUE(dataWrites[1].value.contains("system:pong"));
    const auto firmwareWrites = writesTo(tavrik.firmwarePath());
    ASSERT_EQ(firmwareWrites.size(), 1U);
    EXPECT_EQ(firmwareWrites[0].value, QByteArray("\x01\x02\x03", 3));
    EXPECT_EQ(firmwareWrites[0].type, QStringLiteral("command"));
    EXPECT_TRUE(peripheral->canSendWriteWithoutResponse());
    EXPECT_EQ(recorder.peripheralEvents, std::vector<std::string> {});
    EXPECT_FALSE(recorder.calledSynchronously);
}

TEST_F(BluezTest, AFailedWriteCompletesWithAnErrorAndReleasesTheChannel)
{
    startPoweredCentral();
    const MockTavrik tavrik;
    addTavrik(tavrik);
    const auto peripheral = connectTo(tavrik);
    ASSERT_TRUE(peripheral);
    attachDataChannel(peripheral, tavrik);

    // Each failure completes its write, which releases the channel's queue for the next command.
    mock.call(QStringLiteral("FailWrites"), { tavrik.dataPath(), true });
    EXPECT_TRUE(channel->sendCommand("system", "first"));
    EXPECT_TRUE(channel->sendCommand("system", "second"));
    ASSERT_TRUE(waitFor([&] { return recorder.writeResults.size() == 2; }));
    for (const auto& result : recorder.writeResults) {
        ASSERT_TRUE(result.has_value());
        EXPECT_FALSE(result->description.empty());
    }

    // The characteristic stays usable.
    mock.call(QStringLiteral("FailWrites"), { tavrik.dataPath(), false });
    EXPECT_TRUE(channel->sendCommand("system", "third"));
    ASSERT_TRUE(waitFor([&] { return recorder.writeResults.size() == 3; }));
    EXPECT_EQ(recorder.writeResults[2], std::nullopt);
    const auto writes = writesTo(tavrik.dataPath());
    ASSERT_EQ(writes.size(), 3U);
    EXPECT_TRUE(writes[1].value.contains("system:second"));
    EXPECT_TRUE(writes[2].value.contains("system:third"));
}

struct MtuCase {
    const char* name;
    int mtu;
    int expected;
};

void PrintTo(const MtuCase& value, std::ostream* out)
{
    *out << value.name;
}

class BluezMtuTest : public BluezTest, public ::testing::WithParamInterface<MtuCase> { };

TEST_P(BluezMtuTest, MaximumWriteLengthFollowsBluezMtu)
{
    startPoweredCentral();
    MockTavrik tavrik;
    tavrik.mtu = GetParam().mtu;
    addTavrik(tavrik);
    const auto peripheral = connectTo(tavrik);
    ASSERT_TRUE(peripheral);
    ASSERT_TRUE(
        waitFor([&] { return peripheral->maximumWriteValueLength(BleWriteType::withResponse) == GetParam().expected; }));
    EXPECT_EQ(peripheral->maximumWriteValueLength(BleWriteType::withoutResponse), GetParam().expected);
    if (tavrik.mtu == 0) {
        EXPECT_TRUE(waitFor([&] { return logged("MTU unavailable"); }));
        return;
    }
    // BlueZ announces the outcome of the MTU exchange.
    mock.call(QStringLiteral("SetMtu"), { tavrik.dataPath(), QVariant::fromValue(static_cast<quint16>(100)) });
    EXPECT_TRUE(waitFor([&] { return peripheral->maximumWriteValueLength(BleWriteType::withResponse) == 97; }));
}

INSTANTIATE_TEST_SUITE_P(Mtu, BluezMtuTest,
    ::testing::Values(MtuCase { "negotiated", 247, 244 }, MtuCase { "minimum", 23, 20 }, MtuCase { "unreadable", 0, 20 }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BluezTest, ADeviceSideDisconnectIsReportedOnce)
{
    startPoweredCentral();
    const MockTavrik tavrik;
    addTavrik(tavrik);
    const auto peripheral = connectTo(tavrik);
    ASSERT_TRUE(peripheral);
    const auto data = attachDataChannel(peripheral, tavrik);

    mock.call(QStringLiteral("DropConnection"), { tavrik.path });
    ASSERT_TRUE(waitFor([&] { return recorder.count(Kind::disconnect) == 1; }));
    EXPECT_EQ(recorder.central.back().peripheral, peripheral);
    EXPECT_EQ(recorder.central.back().error, std::nullopt);
    EXPECT_EQ(peripheral->services(), std::nullopt);

    // Writes after the link went are refused, not lost in silence.
    inside([&] { peripheral->writeValue(Data { 1 }, data, BleWriteType::withResponse); });
    ASSERT_TRUE(waitFor([&] { return !recorder.writeResults.empty(); }));
    EXPECT_TRUE(recorder.writeResults.back().has_value());

    // And the device can be connected again.
    inside([&] { central->connect(peripheral); });
    ASSERT_TRUE(waitFor([&] { return recorder.count(Kind::connect) == 2; }));
    EXPECT_EQ(recorder.count(Kind::disconnect), 1);
    EXPECT_FALSE(recorder.calledSynchronously);
}

TEST_F(BluezTest, CancellingAConnectionReportsTheDisconnect)
{
    startPoweredCentral();
    const MockTavrik tavrik;
    addTavrik(tavrik);
    const auto peripheral = connectTo(tavrik);
    ASSERT_TRUE(peripheral);

    inside([&] { central->cancelPeripheralConnection(peripheral); });
    ASSERT_TRUE(waitFor([&] { return recorder.count(Kind::disconnect) == 1; }));
    EXPECT_EQ(recorder.central.back().error, std::nullopt);
    EXPECT_FALSE(recorder.calledSynchronously);
}

TEST_F(BluezTest, ACancelledConnectEndsQuietlyAndTheDeviceCanBeConnectedLater)
{
    startPoweredCentral(std::chrono::milliseconds(1000));
    const MockTavrik tavrik;
    addTavrik(tavrik);
    mock.call(QStringLiteral("SetConnectMode"), { tavrik.path, QStringLiteral("hang") });
    const auto peripheral = discover(tavrik);
    ASSERT_TRUE(peripheral);
    inside([&] {
        central->stopScan();
        central->connect(peripheral);
        central->cancelPeripheralConnection(peripheral);
    });

    // Past the connect bound: the cancelled attempt reports nothing, not even a late time-out.
    const auto deadline = scheduler.now() + std::chrono::milliseconds(2000);
    processEventsUntil([&] { return scheduler.now() >= deadline; }, 5000);
    EXPECT_EQ(recorder.count(Kind::failToConnect), 0);
    EXPECT_EQ(recorder.count(Kind::disconnect), 0);

    mock.call(QStringLiteral("SetConnectMode"), { tavrik.path, QStringLiteral("resolve") });
    inside([&] { central->connect(peripheral); });
    ASSERT_TRUE(waitFor([&] { return recorder.count(Kind::connect) == 1; }));
    EXPECT_FALSE(recorder.calledSynchronously);
}

struct ConnectFailureCase {
    const char* name;
    const char* mode;
    const char* expectedError;
};

void PrintTo(const ConnectFailureCase& value, std::ostream* out)
{
    *out << value.name;
}

class BluezConnectFailureTest : public BluezTest, public ::testing::WithParamInterface<ConnectFailureCase> { };

TEST_P(BluezConnectFailureTest, AConnectThatDoesNotCompleteFails)
{
    startPoweredCentral(std::chrono::milliseconds(1500));
    const MockTavrik tavrik;
    addTavrik(tavrik);
    const auto peripheral = connectFailing(tavrik, QString::fromLatin1(GetParam().mode));
    ASSERT_TRUE(peripheral);
    const auto& failure = recorder.central.back();
    EXPECT_EQ(failure.peripheral, peripheral);
    ASSERT_TRUE(failure.error);
    EXPECT_NE(failure.error->description.find(GetParam().expectedError), std::string::npos) << failure.error->description;

    // Nothing else follows: no late connect, no disconnect of a link that never was.
    const auto deadline = scheduler.now() + std::chrono::milliseconds(2000);
    processEventsUntil([&] { return scheduler.now() >= deadline; }, 5000);
    EXPECT_EQ(recorder.count(Kind::connect), 0);
    EXPECT_EQ(recorder.count(Kind::disconnect), 0);
    EXPECT_EQ(recorder.count(Kind::failToConnect), 1);
    EXPECT_FALSE(recorder.calledSynchronously);
}

INSTANTIATE_TEST_SUITE_P(Connect, BluezConnectFailureTest,
    ::testing::Values(
        ConnectFailureCase { "neverResolves", "hang", "timed out" }, ConnectFailureCase { "refused", "fail", "" }),
    [](const auto& info) { return std::string(info.param.name); });

// BlueZ's reasons reach the controller: a lost or refused pairing is told apart from other failures.
struct BluezErrorCase {
    const char* name;
    enum class Step { connect, notify, write } step;
    const char* errorName;
    const char* message;
    int code;
};

void PrintTo(const BluezErrorCase& value, std::ostream* out)
{
    *out << value.name;
}

class BluezErrorTest : public BluezTest, public ::testing::WithParamInterface<BluezErrorCase> { };

TEST_P(BluezErrorTest, BluezRefusalsKeepTheirReason)
{
    using Step = BluezErrorCase::Step;
    const BluezErrorCase& test = GetParam();
    startPoweredCentral();
    const MockTavrik tavrik;
    addTavrik(tavrik);
    std::optional<BleError> error;
    if (test.step == Step::connect) {
        ASSERT_TRUE(connectFailing(tavrik, QString::fromLatin1(test.errorName)));
        EXPECT_EQ(recorder.count(Kind::connect), 0);
        error = recorder.central.back().error;
    } else {
        const auto peripheral = connectTo(tavrik);
        ASSERT_TRUE(peripheral);
        const auto data = attachChannelOnly(peripheral, tavrik);
        ASSERT_TRUE(data);
        const QString name = QString::fromLatin1(test.errorName);
        const QString message = QString::fromLatin1(test.message);
        if (test.step == Step::notify) {
            mock.call(QStringLiteral("FailNotify"), { tavrik.dataPath(), name, message });
            inside([&] { peripheral->setNotifyValue(true, *data); });
            ASSERT_TRUE(waitFor([&] { return recorder.notifyDone; }));
            error = recorder.notifyError;
            EXPECT_FALSE(characteristic(*peripheral, tavrik.profile, data->uuid)->isNotifying);
        } else {
            mock.call(QStringLiteral("FailWritesWith"), { tavrik.dataPath(), name, message });
            EXPECT_TRUE(channel->sendCommand("system", "ping"));
            ASSERT_TRUE(waitFor([&] { return recorder.writeResults.size() == 1; }));
            error = recorder.writeResults.front();
        }
    }
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, test.code);
    EXPECT_NE(error->description.find(test.message), std::string::npos) << error->description;
    EXPECT_FALSE(recorder.calledSynchronously);
}

INSTANTIATE_TEST_SUITE_P(Errors, BluezErrorTest,
    ::testing::Values(BluezErrorCase { "connectAuthenticationFailed", BluezErrorCase::Step::connect,
                          "org.bluez.Error.AuthenticationFailed", "org.bluez.Error.AuthenticationFailed",
                          bleErrorPeerRemovedPairingInformation },
        BluezErrorCase { "connectAuthenticationRejected", BluezErrorCase::Step::connect,
            "org.bluez.Error.AuthenticationRejected", "org.bluez.Error.AuthenticationRejected",
            bleErrorPeerRemovedPairingInformation },
        // The user dismissed the pairing prompt: the bond is fine, so nothing says to forget it.
        BluezErrorCase { "connectAuthenticationCanceled", BluezErrorCase::Step::connect,
            "org.bluez.Error.AuthenticationCanceled", "org.bluez.Error.AuthenticationCanceled", 0 },
        BluezErrorCase {
            "connectFailed", BluezErrorCase::Step::connect, "org.bluez.Error.Failed", "org.bluez.Error.Failed", 0 },
        BluezErrorCase { "notifyNotPaired", BluezErrorCase::Step::notify, "org.bluez.Error.NotPermitted", "Not paired",
            bleErrorPeerRemovedPairingInformation },
        BluezErrorCase { "notifyInsufficientAuthentication", BluezErrorCase::Step::notify, "org.bluez.Error.Failed",
            "Operation failed with ATT error: 0x05", bleErrorPeerRemovedPairingInformation },
        BluezErrorCase { "notifyFailed", BluezErrorCase::Step::notify, "org.bluez.Error.Failed", "Operation failed", 0 },
        BluezErrorCase { "writeNotPermitted", BluezErrorCase::Step::write, "org.bluez.Error.NotPermitted",
            "Write not permitted", bleErrorPeerRemovedPairingInformation }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BluezTest, NoBluezIsUnsupportedAndTheAdapterComingUpRecovers)
{
    makeCentral();
    ASSERT_TRUE(waitFor([&] { return recorder.count(Kind::state) == 1; }));
    EXPECT_EQ(central->state(), BleManagerState::unsupported);
    EXPECT_EQ(central->unavailableReason(), BleUnavailableReason::bluezNotRunning);
    inside([&] { central->scanForPeripherals(scanServiceUUIDs()); });
    EXPECT_FALSE(central->isScanning());

    // bluetoothd starts with its adapter switched off, then the user switches it on.
    startBluez(false);
    ASSERT_TRUE(waitFor([&] { return central->state() == BleManagerState::poweredOff; }));
    EXPECT_EQ(central->unavailableReason(), BleUnavailableReason::adapterOff);
    mock.call(QStringLiteral("SetPowered"), { adapterPath, true });
    ASSERT_TRUE(waitFor([&] { return central->state() == BleManagerState::poweredOn; }));
    EXPECT_EQ(central->unavailableReason(), BleUnavailableReason::none);
    const auto updates = recorder.count(Kind::state);
    EXPECT_GE(updates, 3);

    // The adapter goes away, then bluetoothd itself.
    mock.call(QStringLiteral("RemoveTestObject"), { adapterPath });
    ASSERT_TRUE(waitFor([&] { return central->state() == BleManagerState::unsupported; }));
    EXPECT_EQ(central->unavailableReason(), BleUnavailableReason::noAdapter);
    mock.call(QStringLiteral("AddAdapter"), { adapterPath, QStringLiteral("00:11:22:33:44:55"), true });
    ASSERT_TRUE(waitFor([&] { return central->state() == BleManagerState::poweredOn; }));
    mock.stopBluez();
    ASSERT_TRUE(waitFor([&] { return central->state() == BleManagerState::unsupported; }));
    EXPECT_EQ(central->unavailableReason(), BleUnavailableReason::bluezNotRunning);
    EXPECT_FALSE(recorder.calledSynchronously);
}

TEST_F(BluezTest, SwitchingTheAdapterOffEndsTheConnection)
{
    startPoweredCentral();
    const MockTavrik tavrik;
    addTavrik(tavrik);
    const auto peripheral = connectTo(tavrik);
    ASSERT_TRUE(peripheral);

    mock.call(QStringLiteral("SetPowered"), { adapterPath, false });
    ASSERT_TRUE(waitFor([&] { return recorder.count(Kind::disconnect) == 1; }));
    EXPECT_EQ(central->state(), BleManagerState::poweredOff);
    inside([&] { central->connect(peripheral); });
    ASSERT_TRUE(waitFor([&] { return recorder.count(Kind::failToConnect) == 1; }));
}

} // namespace
} // namespace tavrik::test

namespace tavrik::test {
namespace {

// A peripheral the central never found.
class StrayPeripheral final : public BlePeripheral {
public:
    std::string identifier() const override { return "AA:BB:CC:DD:EE:09"; }
    std::optional<std::string> name() const override { return std::nullopt; }
    void setDelegate(BlePeripheralDelegate*) override { }
    void discoverServices(const std::vector<Uuid>&) override { }
    std::optional<std::vector<Uuid>> services() const override { return std::nullopt; }
    void discoverCharacteristics(const std::vector<Uuid>&, const Uuid&) override { }
    std::optional<std::vector<BleCharacteristic>> characteristics(const Uuid&) const override { return std::nullopt; }
    void setNotifyValue(bool, const BleCharacteristic&) override { }
    void writeValue(const Data&, const BleCharacteristic&, BleWriteType) override { }
    int maximumWriteValueLength(BleWriteType) const override { return 20; }
    bool canSendWriteWithoutResponse() const override { return true; }
};

TEST_F(BluezTest, ADeviceNotDiscoveredIsNotConnected)
{
    startPoweredCentral();
    const auto stray = std::make_shared<StrayPeripheral>();
    inside([&] { central->connect(stray); });
    ASSERT_TRUE(waitFor([&] { return recorder.count(CentralEvent::Kind::failToConnect) == 1; }));
    EXPECT_EQ(recorder.central.back().peripheral, stray);
    EXPECT_TRUE(recorder.central.back().error.has_value());
    EXPECT_FALSE(recorder.calledSynchronously);
}

TEST_F(BluezTest, NoSystemBusIsUnsupported)
{
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tavrik/system_bus_socket");
    makeCentral();
    ASSERT_TRUE(waitFor([&] { return recorder.count(CentralEvent::Kind::state) == 1; }));
    EXPECT_EQ(central->state(), BleManagerState::unsupported);
    EXPECT_EQ(central->unavailableReason(), BleUnavailableReason::noSystemBus);
    const auto stray = std::make_shared<StrayPeripheral>();
    inside([&] {
        central->scanForPeripherals(scanServiceUUIDs());
        central->connect(stray);
    });
    EXPECT_FALSE(central->isScanning());
    ASSERT_TRUE(waitFor([&] { return recorder.count(CentralEvent::Kind::failToConnect) == 1; }));
    EXPECT_FALSE(recorder.calledSynchronously);
}

} // namespace
} // namespace tavrik::test
