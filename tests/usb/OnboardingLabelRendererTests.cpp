#include "TavrikLink/Usb/OnboardingLabelRenderer.hpp"
#include "TavrikUSBProtocol/Onboarding/OnboardingLabelProtocol.hpp"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace tavrik;

namespace {

const std::string font = std::string(TAVRIK_LINK_RESOURCES) + "/Fonts/OpenGorton-Regular.otf";
constexpr int width = OnboardingLabelRenderer::width;
constexpr int height = OnboardingLabelRenderer::height;

struct Ink {
    int top = height, bottom = -1, left = width, right = -1;
};

// Where the lit pixels are, top row first.
Ink inkOf(const std::vector<std::uint8_t>& pixels)
{
    Ink ink;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            if (pixels[static_cast<std::size_t>(row * width + column)] >= 64) {
                ink.top = std::min(ink.top, row), ink.bottom = std::max(ink.bottom, row);
                ink.left = std::min(ink.left, column), ink.right = std::max(ink.right, column);
            }
        }
    }
    return ink;
}

TEST(OnboardingLabelRenderer, OneLineStagesStayInTheMiddleBandCentredWithinAPixel)
{
    for (const auto& [stage, label] : OnboardingLabelCopy::localized().labels) {
        const auto pixels = OnboardingLabelRenderer::renderGray(label, stage, font);
        ASSERT_EQ(pixels.size(), 5440u);
        const Ink ink = inkOf(pixels);
        ASSERT_GE(ink.right, 0) << label;
        if (rawValue(stage) < 5) {
            EXPECT_GE(ink.top, 10) << label;
            EXPECT_LE(ink.bottom, 23) << label;
            // Cells of 14 rows allow lines at most 13 rows high.
            EXPECT_LE(ink.bottom - ink.top + 1, 14) << label;
        } else {
            // Two lines of 17-row cells: one in the top half, one in the bottom half.
            EXPECT_LT(ink.top, 17) << label;
            EXPECT_GE(ink.bottom, 17) << label;
        }
        EXPECT_LE(std::abs((ink.left + ink.right + 1) / 2.0 - width / 2.0), 1.0) << label;
        EXPECT_GE(ink.left, 1) << label;
        EXPECT_LE(ink.right, width - 2) << label;
    }
}

// The set pixels of the mask's row `row` (top row of the image first), under the 180-degree turn.
std::vector<bool> maskRow(const Data& mask, int row)
{
    std::vector<bool> pixels(width);
    const int maskRowIndex = height - 1 - row;
    for (int column = 0; column < width; ++column) {
        const int maskColumn = width - 1 - column;
        pixels[static_cast<std::size_t>(column)]
            = (mask[static_cast<std::size_t>(maskRowIndex * 20 + maskColumn / 8)] & (0x80 >> (maskColumn % 8))) != 0;
    }
    return pixels;
}

TEST(OnboardingLabelRenderer, RoundLettersHaveNoSpursAboveOrBelowTheirStrokes)
{
    // A round letter's first and last rows are its top and bottom strokes. The curve's overshoot
    // must not leave a pixel or two above or below them, which turns an S into a $.
    const struct {
        std::string label;
        OnboardingLabelStage stage;
    } cases[] = {
        { "S", OnboardingLabelStage::pressButton },
        { "S\nS", OnboardingLabelStage::readyToInstall },
        { "O\nC", OnboardingLabelStage::holdToAbort },
        { "READY TO\nINSTALL", OnboardingLabelStage::readyToInstall },
    };
    for (const auto& entry : cases) {
        SCOPED_TRACE(entry.label);
        const Data mask = OnboardingLabelRenderer::packForDisplay(
            OnboardingLabelRenderer::renderGray(entry.label, entry.stage, font));
        std::vector<int> inkRows;
        for (int row = 0; row < height; ++row) {
            const auto pixels = maskRow(mask, row);
            if (std::find(pixels.begin(), pixels.end(), true) != pixels.end()) {
                inkRows.push_back(row);
            }
        }
        ASSERT_FALSE(inkRows.empty());
        for (int row = 0; row < height; ++row) {
            const auto pixels = maskRow(mask, row);
            const bool inkAbove = row > 0 && std::find(inkRows.begin(), inkRows.end(), row - 1) != inkRows.end();
            const bool inkBelow = std::find(inkRows.begin(), inkRows.end(), row + 1) != inkRows.end();
            if (inkAbove && inkBelow) {
                continue;
            }
            // An edge row of a text line: every pixel in it sits in a run of at least three.
            for (int column = 0; column < width; ++column) {
                if (!pixels[static_cast<std::size_t>(column)]) {
                    continue;
                }
                int run = 1;
                for (int left = column - 1; left >= 0 && pixels[static_cast<std::size_t>(left)]; --left) {
                    ++run;
                }
                for (int right = column + 1; right < width && pixels[static_cast<std::size_t>(right)]; ++right) {
                    ++run;
                }
                EXPECT_GE(run, 3) << "row " << row << ", column " << column;
            }
        }
    }
}

TEST(OnboardingLabelRenderer, EmptyPartsAreDroppedAndThreeLinesAreRefused)
{
    const auto twoWords = OnboardingLabelRenderer::renderGray("READY\n\nGO", OnboardingLabelStage::readyToInstall, font);
    const auto twoLines = OnboardingLabelRenderer::renderGray("READY\nGO", OnboardingLabelStage::readyToInstall, font);
    EXPECT_EQ(twoWords, twoLines);

    const struct {
        std::string label;
        OnboardingLabelStage stage;
    } refused[] = {
        { " \n \n", OnboardingLabelStage::selectWifi },
        { "ONE\nTWO\nTHREE", OnboardingLabelStage::holdToAbort },
    };
    for (const auto& entry : refused) {
        try {
            OnboardingLabelRenderer::renderGray(entry.label, entry.stage, font);
            ADD_FAILURE() << entry.label;
        } catch (const OnboardingLabelRendererError& error) {
            EXPECT_EQ(error.kind(), OnboardingLabelRendererError::Kind::invalidLabel);
            EXPECT_EQ(std::string(error.what()),
                "The localized onboarding label for " + std::string(caseName(entry.stage))
                    + " must contain one or two non-empty lines.");
        }
    }
}

TEST(OnboardingLabelRenderer, AMissingOrBrokenFontFailsBeforeRendering)
{
    QTemporaryDir directory;
    const QString broken = directory.filePath("broken.otf");
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a font");
    file.close();
    for (const std::string& path : { directory.filePath("absent.otf").toStdString(), broken.toStdString() }) {
        try {
            OnboardingLabelRenderer::makePack(OnboardingLabelCopy::localized(), path);
            ADD_FAILURE() << path;
        } catch (const OnboardingLabelRendererError& error) {
            EXPECT_EQ(error.kind(), OnboardingLabelRendererError::Kind::missingFont);
            EXPECT_STREQ(error.what(), "Tavrik Link could not load its onboarding display font.");
        }
    }
    auto copy = OnboardingLabelCopy::localized();
    copy.labels.erase(OnboardingLabelStage::checkingWifi);
    EXPECT_THROW(OnboardingLabelRenderer::makePack(copy, font), OnboardingLabelRendererError);
}

TEST(OnboardingLabelRenderer, PackingTurnsTheImageAndThresholdsAt64)
{
    std::vector<std::uint8_t> pixels(5440, 0);
    pixels[static_cast<std::size_t>(33 * width + 159)] = 64; // bottom-right
    pixels[0] = 255; // top-left
    pixels[static_cast<std::size_t>(33 * width + 158)] = 63; // just below the threshold
    const Data mask = OnboardingLabelRenderer::packForDisplay(pixels);
    ASSERT_EQ(mask.size(), 680u);
    EXPECT_EQ(mask[0], 0x80);
    EXPECT_EQ(mask[679], 0x01);
    int set = 0;
    for (const auto byte : mask) {
        set += __builtin_popcount(byte);
    }
    EXPECT_EQ(set, 2);
}

TEST(OnboardingLabelRenderer, ThePackHoldsTheEightTurnedLabels)
{
    const auto copy = OnboardingLabelCopy::localized();
    const Data pack = OnboardingLabelRenderer::makePack(copy, font);
    ASSERT_EQ(pack.size(), 3480u);
    const auto frames = OnboardingLabelProtocol::validatePack(pack);
    ASSERT_EQ(frames.size(), 8u);
    for (const auto& frame : frames) {
        const Data mask = OnboardingLabelRenderer::packForDisplay(
            OnboardingLabelRenderer::renderGray(copy.labels.at(frame.stage), frame.stage, font));
        // The band stages carry mask rows 10 to 23: under the turn the text band maps onto itself.
        const auto& layoutOf = layout(frame.stage);
        const Data expected(
            mask.begin() + layoutOf.firstRow * 20, mask.begin() + (layoutOf.firstRow + layoutOf.rowCount) * 20);
        EXPECT_EQ(frame.payload, expected);
        if (layoutOf.rowCount == 14) {
            for (std::size_t index = 0; index < 200; ++index) {
                EXPECT_EQ(mask[index], 0) << index;
                EXPECT_EQ(mask[480 + index], 0) << index;
            }
        }
    }
}

} // namespace
