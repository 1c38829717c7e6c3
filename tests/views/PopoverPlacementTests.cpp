#include "TavrikLink/Views/PopoverPlacement.hpp"

#include <gtest/gtest.h>

namespace tavrik {
namespace {

TEST(PopoverPlacementTests, OpensUnderItsAnchorAndStaysOnTheScreen)
{
    const QRect screen(0, 0, 1000, 800);
    const QSize size(400, 300);
    const struct {
        const char* where;
        QRect anchor;
        QRect expected;
    } cases[] = {
        { "room everywhere: under, centred", QRect(400, 100, 100, 20), QRect(250, 120, 400, 300) },
        { "at the left edge: moved right", QRect(0, 100, 60, 20), QRect(0, 120, 400, 300) },
        { "at the right edge: moved left", QRect(950, 100, 50, 20), QRect(600, 120, 400, 300) },
        { "near the bottom: above", QRect(400, 700, 100, 20), QRect(250, 400, 400, 300) },
        { "bottom right corner: above, moved left", QRect(960, 760, 40, 20), QRect(600, 460, 400, 300) },
        { "fits neither way, more room above: above, held at the top", QRect(400, 250, 100, 400),
            QRect(250, 0, 400, 300) },
        { "fits neither way, more room below: under, held at the bottom", QRect(400, 50, 100, 500),
            QRect(250, 500, 400, 300) },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(popoverGeometry(size, c.anchor, screen), c.expected) << c.where;
    }
    // Larger than the screen: it starts at the top-left corner of the area.
    EXPECT_EQ(popoverGeometry(QSize(1200, 900), QRect(500, 400, 10, 10), QRect(100, 50, 1000, 800)).topLeft(),
        QPoint(100, 50));
}

} // namespace
} // namespace tavrik
