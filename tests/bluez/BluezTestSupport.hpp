#pragma once

#include "TavrikCore/Link/BleDataChannel.hpp"
#include "TavrikCore/Model/TavrikBleProtocolProfile.hpp"
#include "TavrikPlatform/Bluetooth/PeripheralDataTransport.hpp"
#include "TavrikPlatform/Bluetooth/QtBleCentral.hpp"
#include "TavrikPlatform/Support/QtScheduler.hpp"
#include "tests/support/qt/BluezMock.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <QDBusArgument>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrik::test {

inline const QString adapterPath = QStringLiteral("/org/bluez/hci0");
// Generous for a loaded two-core machine; a passing test never waits this long.
constexpr int bluezTimeoutMs = 20000;

// What a Tavrik looks like to BlueZ in a test.
struct MockTavrik {
    QString path = adapterPath + QStringLiteral("/dev_AA_BB_CC_DD_EE_01");
    QString address = QStringLiteral("AA:BB:CC:DD:EE:01");
    QString alias = QStringLiteral("Tavrik");
    TavrikBleProtocolProfile profile = TavrikBleProtocolProfile::secureV2;
    bool dataCharacteristic = true;
    int mtu = 247; // 0: BlueZ shows none
    // Paired long ago and not advertising now: BlueZ knows it, without an RSSI.
    bool asleep = false;

    QString servicePath() const { return path + QStringLiteral("/service0010"); }
    QString dataPath() const { return servicePath() + QStringLiteral("/char0011"); }
    QString firmwarePath() const { return servicePath() + QStringLiteral("/char0014"); }
};

inline QString lower(const Uuid& uuid)
{
    return QString::fromStdString(uuid.text()).toLower();
}

struct CentralEvent {
    enum class Kind { state, discover, connect, failToConnect, disconnect };
    Kind kind;
    std::shared_ptr<BlePeripheral> peripheral;
    std::optional<BleError> error;
};

// Records what the central and one peripheral report, and plays the controller's part for the data
// channel: notifications of the data characteristic go to handleIncoming, write completions to
// handleWriteResponse.
class Recorder final : public BleCentralDelegate, public BlePeripheralDelegate {
public:
    std::vector<CentralEvent> central;
    std::vector<std::string> peripheralEvents;
    std::vector<std::optional<BleError>> writeResults;
    std::vector<Data> values;
    std::optional<BleError> servicesError, characteristicsError, notifyError;
    bool servicesDone = false, characteristicsDone = false, notifyDone = false;
    BleDataChannel* channel = nullptr;
    std::optional<Uuid> dataUuid;
    // Set while the test is inside a call to the central or peripheral.
    bool insideCall = false;
    bool calledSynchronously = false;

    int count(CentralEvent::Kind kind) const
    {
        return static_cast<int>(std::ranges::count_if(central, [&](const auto& event) { return event.kind == kind; }));
    }
    int discoveries(const std::string& identifier) const
    {
        return static_cast<int>(std::ranges::count_if(central, [&](const auto& event) {
            return event.kind == CentralEvent::Kind::discover && event.peripheral->identifier() == identifier;
        }));
    }

    void centralDidUpdateState() override { record({ CentralEvent::Kind::state, nullptr, std::nullopt }); }
    void centralDidDiscover(std::shared_ptr<BlePeripheral> peripheral, int) override
    {
        record({ CentralEvent::Kind::discover, std::move(peripheral), std::nullopt });
    }
    void centralDidConnect(std::shared_ptr<BlePeripheral> peripheral) override
    {
        record({ CentralEvent::Kind::connect, std::move(peripheral), std::nullopt });
    }
    void centralDidFailToConnect(std::shared_ptr<BlePeripheral> peripheral, std::optional<BleError> error) override
    {
        record({ CentralEvent::Kind::failToConnect, std::move(peripheral), std::move(error) });
    }
    void centralDidDisconnect(std::shared_ptr<BlePeripheral> peripheral, std::optional<BleError> error) override
    {
        record({ CentralEvent::Kind::disconnect, std::move(peripheral), std::move(error) });
    }

    void peripheralDidDiscoverServices(BlePeripheral&, std::optional<BleError> error) override
    {
        checkAsynchronous();
        servicesDone = true;
        servicesError = error;
    }
    void peripheralDidDiscoverCharacteristics(BlePeripheral&, const Uuid&, std::optional<BleError> error) override
    {
        checkAsynchronous();
        characteristicsDone = true;
        characteristicsError = error;
    }
    void peripheralDidUpdateNotificationState(
        BlePeripheral&, const BleCharacteristic&, std::optional<BleError> error) override
    {
        checkAsynchronous();
        notifyDone = true;
        notifyError = error;
    }
    void peripheralDidUpdateValue(
        BlePeripheral&, const BleCharacteristic& characteristic, const Data& value, std::optional<BleError>) override
    {
        checkAsynchronous();
        values.push_back(value);
        if (channel && dataUuid && characteristic.uuid == *dataUuid) {
            channel->handleIncoming(value);
        }
    }
    void peripheralDidWriteValue(
        BlePeripheral&, const BleCharacteristic& characteristic, std::optional<BleError> error) override
    {
        checkAsynchronous();
        writeResults.push_back(error);
        if (channel && dataUuid && characteristic.uuid == *dataUuid) {
            channel->handleWriteResponse();
        }
    }
    void peripheralIsReadyToSendWriteWithoutResponse(BlePeripheral&) override { peripheralEvents.push_back("ready"); }

private:
    void checkAsynchronous() { calledSynchronously = calledSynchronously || insideCall; }
    void record(CentralEvent event)
    {
        checkAsynchronous();
        central.push_back(std::move(event));
    }
};

// One test per process (see BluezMock): a private bus, optionally the mock BlueZ, and a central.
class BluezTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int testsInThisProcess = 0;
        if (testsInThisProcess++ > 0) {
            GTEST_SKIP() << "Qt Bluetooth keeps process-wide state: run one test per process (CTest does)";
        }
        const auto reason = BluezMock::unavailableReason();
        if (!reason.isEmpty()) {
            GTEST_SKIP() << reason.toStdString();
        }
        ASSERT_TRUE(mock.startBus()) << mock.lastError().toStdString();
    }

    void TearDown() override
    {
        // Peripherals hold the scheduler: let them go before it does.
        channel.reset();
        recorder.central.clear();
        central.reset();
    }

    void startBluez(bool poweredAdapter = true)
    {
        ASSERT_TRUE(mock.startBluez(QStringLiteral(TAVRIK_BLUEZ_TEMPLATE))) << mock.lastError().toStdString();
        mock.call(QStringLiteral("AddAdapter"), { adapterPath, QStringLiteral("00:11:22:33:44:55"), poweredAdapter });
    }

    void makeCentral(std::chrono::milliseconds connectTimeout = QtBleCentral::defaultConnectTimeout)
    {
        central = std::make_unique<QtBleCentral>(
            scheduler, [this](const std::string& line) { log.push_back(line); }, connectTimeout);
        central->setDelegate(&recorder);
    }

    // A powered adapter, a central that has seen it, and the channel the controller would own.
    void startPoweredCentral(std::chrono::milliseconds connectTimeout = QtBleCentral::defaultConnectTimeout)
    {
        startBluez();
        makeCentral(connectTimeout);
        ASSERT_TRUE(waitFor([&] { return central->state() == BleManagerState::poweredOn; }));
        channel = std::make_unique<BleDataChannel>([this](const std::string& line) { log.push_back(line); });
        channel->onMessage
            = [this](std::uint16_t, const Data& payload) { messages.emplace_back(payload.begin(), payload.end()); };
        recorder.channel = channel.get();
    }

    void addDevice(const QString& path, const QString& address, const QStringList& uuids, bool announce)
    {
        mock.call(QStringLiteral("AddDevice"), { path, adapterPath, address, QStringLiteral("Device"), uuids, announce });
    }

    void addTavrik(const MockTavrik& tavrik, bool announce = false)
    {
        const auto service = lower(serviceUUID(tavrik.profile));
        mock.call(QStringLiteral("AddDevice"),
            { tavrik.path, adapterPath, tavrik.address, tavrik.alias, QStringList { service }, false });
        mock.call(QStringLiteral("AddService"), { tavrik.servicePath(), service });
        if (tavrik.dataCharacteristic) {
            mock.call(QStringLiteral("AddCharacteristic"),
                { tavrik.dataPath(), lower(dataCharacteristicUUID(tavrik.profile)),
                    QStringList { QStringLiteral("read"), QStringLiteral("write"), QStringLiteral("notify") },
                    QVariant::fromValue(static_cast<quint16>(tavrik.mtu)) });
        }
        mock.call(QStringLiteral("AddCharacteristic"),
            { tavrik.firmwarePath(), lower(firmwareCharacteristicUUID(tavrik.profile)),
                QStringList { QStringLiteral("write-without-response") },
                QVariant::fromValue(static_cast<quint16>(tavrik.mtu)) });
        if (tavrik.asleep) {
            mock.call(QStringLiteral("MakeCached"), { tavrik.path });
        }
        if (announce) {
            mock.call(QStringLiteral("Announce"), { tavrik.path });
        }
    }

    // The device advertises: BlueZ hears it and shows the signal strength.
    void advertise(const MockTavrik& tavrik, int rssi)
    {
        mock.call(QStringLiteral("SetRssi"), { tavrik.path, QVariant::fromValue(static_cast<qint16>(rssi)) });
    }

    template <class Call>
    void inside(Call&& call)
    {
        recorder.insideCall = true;
        call();
        recorder.insideCall = false;
    }

    static bool waitFor(const std::function<bool()>& condition)
    {
        return processEventsUntil(condition, bluezTimeoutMs);
    }

    // A new Tavrik appears and is found: BlueZ's signals reach the central in order, so whatever
    // BlueZ said before has been reported by then.
    bool barrier()
    {
        const int number = ++barriers;
        MockTavrik marker;
        const QString suffix = QStringLiteral("%1").arg(number, 2, 16, QLatin1Char('0')).toUpper();
        marker.path = adapterPath + QStringLiteral("/dev_AA_BB_CC_DD_FF_") + suffix;
        marker.address = QStringLiteral("AA:BB:CC:DD:FF:") + suffix;
        addTavrik(marker, true);
        return waitFor([&] { return recorder.discoveries(marker.address.toStdString()) == 1; });
    }

    std::shared_ptr<BlePeripheral> discover(const MockTavrik& tavrik)
    {
        inside([&] { central->scanForPeripherals(scanServiceUUIDs()); });
        std::shared_ptr<BlePeripheral> found;
        waitFor([&] {
            for (const auto& event : recorder.central) {
                if (event.kind == CentralEvent::Kind::discover
                    && event.peripheral->identifier() == tavrik.address.toStdString()) {
                    found = event.peripheral;
                }
            }
            return found != nullptr;
        });
        return found;
    }

    // A connect that the mock answers with `mode` ("fail", "hang" or a BlueZ error name); gives the
    // peripheral once the failure was reported, none when it never was.
    std::shared_ptr<BlePeripheral> connectFailing(const MockTavrik& tavrik, const QString& mode)
    {
        mock.call(QStringLiteral("SetConnectMode"), { tavrik.path, mode });
        auto peripheral = requestConnection(tavrik);
        if (!peripheral || !waitFor([&] { return recorder.count(CentralEvent::Kind::failToConnect) == 1; })) {
            return nullptr;
        }
        return peripheral;
    }

    // Scans until the device is found, then stops and connects to it, as the controller does.
    std::shared_ptr<BlePeripheral> requestConnection(const MockTavrik& tavrik)
    {
        auto peripheral = discover(tavrik);
        EXPECT_TRUE(peripheral) << "not discovered";
        if (peripheral) {
            inside([&] {
                central->stopScan();
                peripheral->setDelegate(&recorder);
                central->connect(peripheral);
            });
        }
        return peripheral;
    }

    // The controller's road to a ready data channel; fails the test on the first step that fails.
    std::shared_ptr<BlePeripheral> connectTo(const MockTavrik& tavrik)
    {
        auto peripheral = requestConnection(tavrik);
        if (!peripheral) {
            return nullptr;
        }
        EXPECT_TRUE(waitFor([&] { return recorder.count(CentralEvent::Kind::connect) > 0; })) << "not connected";
        inside([&] { peripheral->discoverServices(scanServiceUUIDs()); });
        EXPECT_TRUE(waitFor([&] { return recorder.servicesDone; }));
        EXPECT_FALSE(recorder.servicesError);
        inside([&] {
            peripheral->discoverCharacteristics(characteristicUUIDs(tavrik.profile), serviceUUID(tavrik.profile));
        });
        EXPECT_TRUE(waitFor([&] { return recorder.characteristicsDone; }));
        EXPECT_FALSE(recorder.characteristicsError);
        return peripheral;
    }

    static std::optional<BleCharacteristic> characteristic(
        const BlePeripheral& peripheral, TavrikBleProtocolProfile profile, const Uuid& uuid)
    {
        const auto list = peripheral.characteristics(serviceUUID(profile));
        if (!list) {
            return std::nullopt;
        }
        const auto found = std::ranges::find_if(*list, [&](const BleCharacteristic& c) { return c.uuid == uuid; });
        return found == list->end() ? std::nullopt : std::optional(*found);
    }

    // Attaches the channel to the data characteristic, notifications still off.
    std::optional<BleCharacteristic> attachChannelOnly(
        const std::shared_ptr<BlePeripheral>& peripheral, const MockTavrik& tavrik)
    {
        const auto data = characteristic(*peripheral, tavrik.profile, dataCharacteristicUUID(tavrik.profile));
        EXPECT_TRUE(data);
        if (data) {
            recorder.dataUuid = data->uuid;
            configureDataChannel(*channel, peripheral, data);
        }
        return data;
    }

    // Attaches the channel and turns notifications on, as the controller does.
    BleCharacteristic attachDataChannel(const std::shared_ptr<BlePeripheral>& peripheral, const MockTavrik& tavrik)
    {
        const auto data = attachChannelOnly(peripheral, tavrik);
        inside([&] { peripheral->setNotifyValue(true, *data); });
        EXPECT_TRUE(waitFor([&] { return recorder.notifyDone; }));
        EXPECT_FALSE(recorder.notifyError);
        return *data;
    }

    struct Write {
        QByteArray value;
        QString type;
    };
    std::vector<Write> writesTo(const QString& path)
    {
        std::vector<Write> writes;
        const auto reply = mock.call(QStringLiteral("WriteLog"), { path });
        if (reply.arguments().isEmpty()) {
            return writes;
        }
        const auto argument = reply.arguments().constFirst().value<QDBusArgument>();
        argument.beginArray();
        while (!argument.atEnd()) {
            Write write;
            argument.beginStructure();
            argument >> write.value >> write.type;
            argument.endStructure();
            writes.push_back(write);
        }
        argument.endArray();
        return writes;
    }

    QStringList notifyCallsTo(const QString& path)
    {
        const auto reply = mock.call(QStringLiteral("NotifyLog"), { path });
        return reply.arguments().isEmpty() ? QStringList() : reply.arguments().constFirst().toStringList();
    }

    bool logged(const std::string& text) const
    {
        return std::ranges::any_of(log, [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }

    BluezMock mock;
    QtScheduler scheduler;
    Recorder recorder;
    std::vector<std::string> log;
    std::vector<std::string> messages;
    std::unique_ptr<BleDataChannel> channel;
    std::unique_ptr<QtBleCentral> central;
    int barriers = 0;
};

} // namespace tavrik::test
