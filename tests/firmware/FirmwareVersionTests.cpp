#include "TavrikCore/Firmware/FirmwareVersion.hpp"

#include <gtest/gtest.h>

namespace tavrik {
namespace {

int sign(int value)
{
    return (value > 0) - (value < 0);
}

TEST(FirmwareVersion, ComparesDigitRunsByValue)
{
    struct Case {
        const char* left;
        const char* right;
        int order;
    };
    const Case cases[] = {
        { "1.10.0", "1.9.9", 1 },
        { "1.2.0", "1.2", 1 },
        { "2.0", "2.0", 0 },
        { "1.01", "1.1", 0 },
        { "1.0.0", "1.0.0-beta", -1 },
        { "1.0.0-rc2", "1.0.0-rc10", -1 },
        { "v2", "1", 1 },
        { "1.0a", "1.0B", 1 },
        { "", "0", -1 },
        { "", "", 0 },
        { "99999999999999999999999", "99999999999999999999998", 1 },
        { "000123", "124", -1 },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sign(compareVersions(c.left, c.right)), c.order) << c.left << " vs " << c.right;
        EXPECT_EQ(sign(compareVersions(c.right, c.left)), -c.order) << c.right << " vs " << c.left;
    }
}

TEST(FirmwareVersion, UpdateIsAvailableOnlyForAGreaterVersion)
{
    EXPECT_TRUE(firmwareUpdateIsAvailable("1.9.9", "1.10.0"));
    EXPECT_TRUE(firmwareUpdateIsAvailable("1.2", "1.2.0"));
    EXPECT_FALSE(firmwareUpdateIsAvailable("2.0", "2.0"));
    EXPECT_FALSE(firmwareUpdateIsAvailable("1.10.0", "1.9.9"));
    EXPECT_FALSE(firmwareUpdateIsAvailable(std::nullopt, "1.0.0"));
    EXPECT_FALSE(firmwareUpdateIsAvailable("1.0.0", std::nullopt));
}

} // namespace
} // namespace tavrik
