#include "TavrikCore/Model/SyncPayloads.hpp"
#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/RandomSource.hpp"
#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/KeyValueStore.hpp"
#include "TavrikLink/Ui/SettingsPane.hpp"
#include "TavrikLink/Views/SettingsPanePresenter.hpp"
#include "tests/bluez/BluezTestSupport.hpp"

#include <QCheckBox>
#include <QTest>
#include <QTimer>

namespace tavrik::test {
namespace {

// A Tavrik on the mocked BlueZ: it reads what the program writes to the data characteristic (from
// the mock's write log), and answers with notifications of that characteristic, through a data
// channel of its own. A load is answered with "sync_ready", the data and "sync_done".
class MockedBoard {
public:
    MockedBoard(BluezMock& mock, MockTavrik tavrik)
        : mock(mock)
        , tavrik(std::move(tavrik))
    {
        data.dataVersion = 9;
        data.firmwareVersion = "1.4.0";
        data.hardwareTarget = "m5stick-s3";
        channel.configure(transport);
        channel.onMessage = [this](std::uint16_t, const Data& payload) { receive(payload); };
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [this] { readWrites(); });
        poll.start();
    }

    SyncDataEnvelope data;
    std::vector<std::string> texts;

    std::vector<std::string> commands() const
    {
        std::vector<std::string> found;
        std::ranges::copy_if(
            texts, std::back_inserter(found), [](const std::string& text) { return !text.starts_with("{"); });
        return found;
    }

private:
    class NotifyTransport final : public BleDataTransport {
    public:
        explicit NotifyTransport(MockedBoard& board)
            : board(board)
        {
        }
        bool supportsWriteWithoutResponse() const override { return false; }
        bool canSendWriteWithoutResponse() const override { return false; }
        int maximumWriteValueLength(BleWriteType) const override { return board.tavrik.mtu - 3; }
        void write(const Data& data, BleWriteType type) override
        {
            board.mock.call(QStringLiteral("Notify"),
                { board.tavrik.dataPath(),
                    QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size())) });
            if (type == BleWriteType::withResponse) {
                QTimer::singleShot(0, [this] { board.channel.handleWriteResponse(); });
            }
        }

    private:
        MockedBoard& board;
    };

    void readWrites()
    {
        const QDBusMessage reply = mock.call(QStringLiteral("WriteLog"), { tavrik.dataPath() });
        if (reply.arguments().isEmpty()) {
            return;
        }
        const auto argument = reply.arguments().constFirst().value<QDBusArgument>();
        std::vector<QByteArray> writes;
        argument.beginArray();
        while (!argument.atEnd()) {
            QByteArray value;
            QString type;
            argument.beginStructure();
            argument >> value >> type;
            argument.endStructure();
            writes.push_back(value);
        }
        argument.endArray();
        for (; seen < writes.size(); ++seen) {
            const QByteArray& value = writes[seen];
            channel.handleIncoming(Data(value.begin(), value.end()));
        }
    }

    void receive(const Data& payload)
    {
        const std::string text(payload.begin(), payload.end());
        texts.push_back(text);
        if (!text.starts_with("{")) {
            return;
        }
        const Json message = parseJson(text);
        if (message.value("type", "") == "sync_start" && message.value("mode", "") == "load") {
            const std::string code = message.at("code").get<std::string>();
            channel.sendEncodable(Json { { "type", "sync_ready" }, { "mode", "load" }, { "code", code } });
            channel.sendEncodable(Json(toJson(data)));
            channel.sendEncodable(Json { { "type", "sync_done" }, { "mode", "load" }, { "code", code } });
        }
    }

    BluezMock& mock;
    MockTavrik tavrik;
    BleDataChannel channel { [](const std::string&) {} };
    std::shared_ptr<NotifyTransport> transport = std::make_shared<NotifyTransport>(*this);
    QTimer poll;
    std::size_t seen = 0;
};

// Its own name beside the platform area's BluezTest cases.
class BluezRoadTest : public BluezTest { };

TEST_F(BluezRoadTest, TheControllerFindsLoadsEditsAndDisconnectsABoardOverBluez)
{
    startBluez();
    makeCentral();
    ASSERT_TRUE(waitFor([&] { return central->state() == BleManagerState::poweredOn; }));
    const MockTavrik tavrik;
    addTavrik(tavrik, true);
    MockedBoard board(mock, tavrik);
    board.data.tags = { { 3, "04 A1", "Desk" }, { 4, "04 A2", "Door" } };

    SystemRandomSource random;
    InMemoryKeyValueStore defaults;
    TavrikBleCentral controller(
        { *central, scheduler, systemClock(), random, defaults, "/nonexistent/local-link", false, {} });
    controller.beginSession(SyncMode::load);
    ASSERT_TRUE(waitFor([&] { return controller.hasLoadedData(); })) << controller.statusText();
    EXPECT_EQ(controller.tags(), board.data.tags);
    EXPECT_EQ(controller.statusText(), "Connected");
    ASSERT_FALSE(board.texts.empty());
    const Json start = parseJson(board.texts.front());
    EXPECT_EQ(start.value("type", ""), "sync_start");
    EXPECT_EQ(start.value("mode", ""), "load");

    SettingsPanePresenter settings(controller);
    SettingsPane pane(settings);
    pane.show();
    QTest::mouseClick(pane.muteToggle(), Qt::LeftButton, {}, QPoint(4, pane.muteToggle()->height() / 2));
    ASSERT_TRUE(waitFor([&] { return !board.commands().empty(); }));
    EXPECT_EQ(board.commands(), std::vector<std::string> { "settings:update muteNonAlarmSounds=1" });

    // The window's disconnect: the board is told first, then the connection ends.
    ASSERT_TRUE(controller.canEjectTavrik());
    controller.ejectTavrik();
    ASSERT_TRUE(waitFor([&] { return !controller.isConnected(); }));
    EXPECT_EQ(board.commands().back(), "system:eject");
}

TEST_F(BluezRoadTest, APairedSleepingBoardIsWaitedForAndLoadedWhenItWakes)
{
    startBluez();
    makeCentral();
    ASSERT_TRUE(waitFor([&] { return central->state() == BleManagerState::poweredOn; }));
    MockTavrik tavrik;
    tavrik.asleep = true; // paired, so BlueZ lists it, but not advertising
    addTavrik(tavrik);
    // While it sleeps, BlueZ cannot reach it.
    mock.call(QStringLiteral("SetConnectMode"), { tavrik.path, QStringLiteral("fail") });
    MockedBoard board(mock, tavrik);
    board.data.tags = { { 3, "04 A1", "Desk" } };

    SystemRandomSource random;
    InMemoryKeyValueStore defaults;
    TavrikBleCentral controller(
        { *central, scheduler, systemClock(), random, defaults, "/nonexistent/local-link", false, {} });
    const auto logged = [&](const std::string& text) {
        return std::ranges::count_if(
            controller.logItems(), [&](const TavrikLogEntry& entry) { return entry.text.starts_with(text); });
    };
    controller.beginSession(SyncMode::load);
    ASSERT_TRUE(waitFor([&] { return controller.statusText() == "Scanning\u2026"; }));

    // A button press wakes it for a moment, too short for the connect: the load looks for it again.
    advertise(tavrik, -70);
    ASSERT_TRUE(waitFor([&] { return logged("Failed to connect: ") == 1; }));
    ASSERT_TRUE(waitFor([&] { return controller.statusText() == "Scanning\u2026"; }));
    EXPECT_EQ(controller.syncStage(), SyncStage::waitingForDevice());
    EXPECT_FALSE(controller.hasLoadedData());

    // Now it is awake and advertising: it is found, connected and loaded.
    mock.call(QStringLiteral("SetConnectMode"), { tavrik.path, QStringLiteral("resolve") });
    advertise(tavrik, -60);
    ASSERT_TRUE(waitFor([&] { return controller.hasLoadedData(); })) << controller.statusText();
    EXPECT_EQ(controller.tags(), board.data.tags);
    EXPECT_EQ(controller.statusText(), "Connected");
    // One connect per sighting, never one for the remembered device.
    EXPECT_EQ(logged("Found Tavrik"), 2);
    EXPECT_EQ(logged("Failed to connect: "), 1);
}

TEST_F(BluezRoadTest, ABoardThatForgotItsPairingIsShownHowToPairAgain)
{
    startBluez();
    makeCentral();
    ASSERT_TRUE(waitFor([&] { return central->state() == BleManagerState::poweredOn; }));
    const MockTavrik tavrik;
    addTavrik(tavrik, true);
    // BlueZ still holds a bond the board no longer has: the secure data characteristic refuses.
    mock.call(QStringLiteral("FailNotify"),
        { tavrik.dataPath(), QStringLiteral("org.bluez.Error.NotPermitted"), QStringLiteral("Not paired") });

    SystemRandomSource random;
    InMemoryKeyValueStore defaults;
    TavrikBleCentral controller(
        { *central, scheduler, systemClock(), random, defaults, "/nonexistent/local-link", false, {} });
    controller.beginSession(SyncMode::load);
    ASSERT_TRUE(waitFor([&] { return controller.statusText() == "Pair Tavrik again"; })) << controller.statusText();
    ASSERT_EQ(controller.syncStage().kind(), SyncStage::Kind::failed);
    const std::string advice = controller.syncStage().failureMessage();
    EXPECT_NE(advice.find("bluetoothctl remove " + tavrik.address.toStdString()), std::string::npos) << advice;
    EXPECT_TRUE(waitFor([&] { return !controller.isConnected(); }));
}

} // namespace
} // namespace tavrik::test
