#include "TavrikCore/Support/InternetDateTime.hpp"

#include <gtest/gtest.h>

namespace tavrik {
namespace {

TEST(InternetDateTimeTest, WritesWholeSecondsInUtc)
{
    using namespace std::chrono;
    const struct {
        system_clock::time_point moment;
        const char* text;
    } cases[] = {
        { system_clock::time_point {}, "1970-01-01T00:00:00Z" },
        { system_clock::time_point { seconds(1'769'847'300) }, "2026-01-31T08:15:00Z" },
        // Parts of a second are dropped, never rounded up into the next second.
        { system_clock::time_point { milliseconds(1'769'847'300'999) }, "2026-01-31T08:15:00Z" },
        { system_clock::time_point { seconds(951'868'799) }, "2000-02-29T23:59:59Z" },
        { system_clock::time_point { milliseconds(-1) }, "1969-12-31T23:59:59Z" },
    };
    for (const auto& [moment, text] : cases) {
        EXPECT_EQ(internetDateTimeText(moment), text);
    }
}

} // namespace
} // namespace tavrik
