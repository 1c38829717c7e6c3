#include "TavrikCore/Session/NativeSessionRegistry.hpp"
#include "tests/session/SessionTestSupport.hpp"

namespace tavrik::test {
namespace {

using namespace std::chrono_literals;

// A host that reaches its session only through a registry handle, with bytes in and bytes out.
struct RegistryHost {
    RegistryHost(const Clock& clock, RandomSource& random)
        : registry([&clock, &random](bool allowSimulator) {
            return std::make_unique<CompanionSession>(allowSimulator, clock, random);
        })
    {
    }

    SessionResponse send(Json envelope, const Data& payload = {})
    {
        envelope["version"] = 1;
        const Data bytes = registry.dispatch(handle, dumpJsonData(envelope), payload);
        SessionResponse response;
        response.text = stringFromData(bytes);
        response.document = parseJson(response.text);
        if (response.document.contains("state")) {
            generation = response.state().at("generation").get<std::uint64_t>();
        }
        return response;
    }

    SessionResponse callback(std::string_view action, const Data& payload = {})
    {
        return send({ { "action", action }, { "generation", generation } }, payload);
    }

    // Delivers the response's writes and reports each finished write with response, as a host must.
    void perform(SessionResponse response, ScriptedDevice& device)
    {
        for (;;) {
            device.receiveFrames(response.writes());
            const std::vector<Json> writes = response.effectsOfType("write");
            if (std::none_of(writes.begin(), writes.end(),
                    [](const Json& write) { return write.at("withResponse").get<bool>(); })) {
                return;
            }
            response = callback("writeComplete");
        }
    }

    NativeSessionRegistry registry;
    std::int64_t handle = 0;
    std::uint64_t generation = 0;
};

using SessionSmokeTest = SessionTest;

TEST_F(SessionSmokeTest, AHostRunsADeviceThroughTheRegistryFromConnectToIdleDisconnect)
{
    RegistryHost host(clock, random);
    host.handle = host.registry.create(false);
    ASSERT_EQ(host.handle, 1);

    ASSERT_TRUE(host.send({ { "action", "connect" }, { "maximumWriteLength", 64 } }).ok());
    const std::uint64_t link = host.generation;
    host.perform(host.send({ { "action", "load" } }), device);
    const std::optional<Json> start = device.lastReceived("sync_start");
    ASSERT_TRUE(start && start->contains("delivery"));

    for (const Data& frame :
        device.reliableFramesFor(sampleDeviceData(), start->at("delivery").at("session").get<std::uint32_t>())) {
        const SessionResponse received = host.callback("receiveFrame", frame);
        ASSERT_TRUE(received.ok()) << received.error();
        host.perform(received, device);
    }
    EXPECT_TRUE(device.lastReceived("ble_ack").has_value());
    for (const Data& frame : device.framesFor({ { "type", "sync_done" }, { "code", start->at("code") } })) {
        host.perform(host.callback("receiveFrame", frame), device);
    }
    const SessionResponse loaded = host.send({ { "action", "state" } });
    EXPECT_EQ(loaded.state().at("status"), "Connected");
    EXPECT_EQ(loaded.state().at("device").at("tags").size(), 2U);

    device.forgetReceived();
    host.perform(host.send({ { "action", "triggerRoutine" }, { "id", 1 } }), device);
    EXPECT_EQ(device.receivedTexts(), std::vector<std::string> { "routine:trigger id=1" });

    advance(60s);
    const SessionResponse idle = host.send({ { "action", "tick" } });
    EXPECT_EQ(idle.effects(), Json::parse(R"([{"type":"disconnect"}])"));
    EXPECT_EQ(idle.state().at("status"), "Disconnected after 60 seconds idle");
    const SessionResponse late = host.send({ { "action", "receiveFrame" }, { "generation", link } },
        device.framesFor({ { "type", "scan_pending" } }).at(0));
    EXPECT_EQ(late.error(), "Stale connection callback");

    host.registry.destroy(host.handle);
    EXPECT_EQ(host.send({ { "action", "state" } }).text, R"({"version":1,"ok":false,"error":"Session is closed"})");
}

} // namespace
} // namespace tavrik::test
