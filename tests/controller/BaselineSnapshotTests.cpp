#include "TavrikLink/Controller/BaselineSnapshot.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace tavrik::test {
namespace {

// The data a baseline is taken from: one tag whose name stands for the whole state.
struct Data {
    std::string name = "first";
    int builds = 0;

    SyncSnapshot snapshot()
    {
        ++builds;
        SyncSnapshot result;
        result.tags = { { 1, "04 01", name } };
        return result;
    }
};

std::optional<std::string> shownName(const BaselineSnapshot& baseline)
{
    const auto& value = baseline.value();
    if (!value) {
        return std::nullopt;
    }
    return value->tags.front().name;
}

// A baseline that follows the data holds them as they were when it was told to, whatever comes
// after, and is built at most once for it.
TEST(BaselineSnapshot, FollowingTheDataKeepsThemAsTheyWereThen)
{
    struct Case {
        std::string name;
        std::function<void(BaselineSnapshot&, Data&)> run;
        std::optional<std::string> shown;
        int builds;
    };
    const auto change = [](BaselineSnapshot& baseline, Data& data, const std::string& name) {
        baseline.beforeDataChange();
        data.name = name;
    };
    const std::vector<Case> cases {
        { "read while following", [](BaselineSnapshot& b, Data&) { b.followCurrent(); }, "first", 1 },
        { "data changed after",
            [&](BaselineSnapshot& b, Data& d) {
                b.followCurrent();
                change(b, d, "second");
                change(b, d, "third");
            },
            "first", 1 },
        { "changes while held, then followed again",
            [&](BaselineSnapshot& b, Data& d) {
                b.followCurrent();
                {
                    const BaselineSnapshot::Hold hold(b);
                    change(b, d, "second");
                    change(b, d, "third");
                }
                b.followCurrent();
            },
            "third", 1 },
        { "a snapshot taken ends following",
            [&](BaselineSnapshot& b, Data& d) {
                b.followCurrent();
                b = d.snapshot();
                change(b, d, "second");
            },
            "first", 1 },
        { "cleared ends following",
            [&](BaselineSnapshot& b, Data& d) {
                b.followCurrent();
                b.reset();
                change(b, d, "second");
            },
            std::nullopt, 0 },
        { "changes with nothing to follow", [&](BaselineSnapshot& b, Data& d) { change(b, d, "second"); }, std::nullopt,
            0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Data data;
        BaselineSnapshot baseline([&] { return data.snapshot(); });
        c.run(baseline, data);
        EXPECT_EQ(shownName(baseline), c.shown);
        EXPECT_EQ(shownName(baseline), c.shown);
        EXPECT_EQ(data.builds, c.builds);
    }
}

} // namespace
} // namespace tavrik::test
