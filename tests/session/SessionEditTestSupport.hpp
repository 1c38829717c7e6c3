#pragma once

#include "tests/session/SessionTestSupport.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace tavrik::test {

// What one action did on one link: its own response and the command texts the device received.
struct LinkRun {
    SessionResponse response;
    std::vector<std::string> commands;
};

class SessionEditTest : public SessionTest {
protected:
    // Loads the data over the framed link, runs the action and lets the device read every write it caused.
    LinkRun runOnPhysicalLink(std::string_view action, const Json& arguments = Json::object(), const Data& payload = {},
        const Json& data = sampleDeviceData())
    {
        loadOverPhysicalLink(data);
        device.forgetReceived();
        LinkRun run { dispatch(action, arguments, payload), {} };
        pump(run.response);
        run.commands = device.receivedTexts();
        return run;
    }

    LinkRun runOnSimulator(std::string_view action, const Json& arguments = Json::object(), const Data& payload = {},
        const Json& data = sampleDeviceData())
    {
        loadOverSimulator(data);
        LinkRun run { dispatch(action, arguments, payload), {} };
        run.commands = run.response.applicationWrites();
        return run;
    }

    // The action succeeds on both links and sends exactly these commands on each.
    void expectCommandsOnBothLinks(std::string_view action, const Json& arguments, const Data& payload,
        const std::vector<std::string>& expected, const Json& data = sampleDeviceData())
    {
        const LinkRun physical = runOnPhysicalLink(action, arguments, payload, data);
        EXPECT_TRUE(physical.response.ok()) << "physical link: " << physical.response.error();
        EXPECT_EQ(physical.commands, expected) << "physical link";
        const LinkRun simulated = runOnSimulator(action, arguments, payload, data);
        EXPECT_TRUE(simulated.response.ok()) << "simulator: " << simulated.response.error();
        EXPECT_EQ(simulated.commands, expected) << "simulator";
    }

    // The action is refused with the text and sends nothing.
    void expectRefusal(std::string_view action, const Json& arguments, const Data& payload, const std::string& error,
        const Json& data = sampleDeviceData())
    {
        const LinkRun run = runOnSimulator(action, arguments, payload, data);
        EXPECT_FALSE(run.response.ok());
        EXPECT_EQ(run.response.error(), error);
        EXPECT_TRUE(run.commands.empty()) << run.commands.front();
    }
};

// The value without its key order, for comparing records the response writes with sorted keys.
inline nlohmann::json plain(const Json& value)
{
    return nlohmann::json::parse(value.dump());
}

// The first routine of the device data in the state, by id.
inline const Json* stateRoutine(const Json& state, std::uint32_t id)
{
    for (const Json& routine : state.at("device").at("routines")) {
        if (routine.at("id").get<std::uint32_t>() == id) {
            return &routine;
        }
    }
    return nullptr;
}

} // namespace tavrik::test
