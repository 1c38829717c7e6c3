#include "TavrikLink/Usb/OnboardingLabelRenderer.hpp"

#include "TavrikCore/Support/Text.hpp"
#include "TavrikUSBProtocol/Onboarding/OnboardingLabelProtocol.hpp"

#include <QRegularExpression>
#include <QString>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_BBOX_H

#include <algorithm>
#include <cmath>
#include <memory>

namespace tavrik {

namespace {

std::string rendererMessage(OnboardingLabelRendererError::Kind kind, OnboardingLabelStage stage)
{
    switch (kind) {
    case OnboardingLabelRendererError::Kind::invalidLabel:
        return "The localized onboarding label for " + std::string(caseName(stage))
            + " must contain one or two non-empty lines.";
    case OnboardingLabelRendererError::Kind::missingFont:
        return "Tavrik Link could not load its onboarding display font.";
    case OnboardingLabelRendererError::Kind::bitmapCreationFailed:
        break;
    }
    return "Tavrik Link could not render the onboarding display labels.";
}

// One FreeType library and face for one makePack call.
class FontFace {
public:
    explicit FontFace(const std::string& path)
    {
        if (FT_Init_FreeType(&library) != 0) {
            throw OnboardingLabelRendererError(OnboardingLabelRendererError::Kind::missingFont);
        }
        if (FT_New_Face(library, path.c_str(), 0, &face) != 0 || !FT_IS_SCALABLE(face)) {
            FT_Done_FreeType(library);
            throw OnboardingLabelRendererError(OnboardingLabelRendererError::Kind::missingFont);
        }
    }
    ~FontFace()
    {
        FT_Done_Face(face);
        FT_Done_FreeType(library);
    }
    FontFace(const FontFace&) = delete;
    FontFace& operator=(const FontFace&) = delete;

    FT_Face get() const { return face; }

private:
    FT_Library library = nullptr;
    FT_Face face = nullptr;
};

struct Bounds {
    double x = 0, y = 0, width = 0, height = 0;
};

struct PlacedGlyph {
    FT_UInt index = 0;
    double penX = 0;
};

// One line laid out at one size: glyph positions along the baseline and the ink box of the
// outlines (y upwards from the baseline), without leading.
struct FittedLine {
    double size = 0;
    std::vector<PlacedGlyph> glyphs;
    Bounds bounds;
};

// Hinted vertically only: baseline, cap height and the overshoot of round letters snap to whole
// rows, so a curve's apex cannot spill a few faint pixels into the row beyond the stroke, which
// the coverage threshold would keep. Widths stay as designed.
constexpr FT_Int32 glyphLoadFlags = FT_LOAD_TARGET_LIGHT | FT_LOAD_NO_BITMAP;

void setSize(FT_Face face, double size)
{
    FT_Set_Char_Size(face, static_cast<FT_F26Dot6>(std::lround(size * 64)), 0, 72, 72);
}

FittedLine layOut(FT_Face face, const std::string& line, double size)
{
    setSize(face, size);
    const double spacing = std::min(size / 12.0, 1.5);
    FittedLine fitted;
    fitted.size = size;
    double pen = 0;
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    bool any = false;
    FT_UInt previous = 0;
    for (const char32_t codePoint : QString::fromStdString(line).toUcs4()) {
        const FT_UInt index = FT_Get_Char_Index(face, codePoint);
        if (previous != 0 && FT_HAS_KERNING(face)) {
            FT_Vector kern {};
            if (FT_Get_Kerning(face, previous, index, FT_KERNING_UNFITTED, &kern) == 0) {
                pen += kern.x / 64.0;
            }
        }
        previous = index;
        if (FT_Load_Glyph(face, index, glyphLoadFlags) != 0) {
            continue;
        }
        fitted.glyphs.push_back({ index, pen });
        if (face->glyph->format == FT_GLYPH_FORMAT_OUTLINE && face->glyph->outline.n_points > 0) {
            FT_BBox box {};
            FT_Outline_Get_BBox(&face->glyph->outline, &box);
            const double x0 = pen + box.xMin / 64.0, x1 = pen + box.xMax / 64.0;
            const double y0 = box.yMin / 64.0, y1 = box.yMax / 64.0;
            if (!any) {
                minX = x0, maxX = x1, minY = y0, maxY = y1;
                any = true;
            } else {
                minX = std::min(minX, x0), maxX = std::max(maxX, x1);
                minY = std::min(minY, y0), maxY = std::max(maxY, y1);
            }
        }
        pen += face->glyph->advance.x / 64.0 + spacing;
    }
    fitted.bounds = { minX, minY, maxX - minX, maxY - minY };
    return fitted;
}

std::vector<FittedLine> fittedLines(
    FT_Face face, const std::vector<std::string>& lines, double availableWidth, double cellHeight)
{
    const double maximumLineHeight = std::max(cellHeight - 1.0, 1.0);
    for (double size = OnboardingLabelRenderer::maximumFontSize; size >= OnboardingLabelRenderer::minimumFontSize;
         size -= 0.5) {
        std::vector<FittedLine> fitted;
        bool fits = true;
        for (const auto& line : lines) {
            fitted.push_back(layOut(face, line, size));
            fits = fits && fitted.back().bounds.width <= availableWidth
                && fitted.back().bounds.height <= maximumLineHeight;
        }
        if (fits) {
            return fitted;
        }
    }
    std::vector<FittedLine> fitted;
    fitted.reserve(lines.size());
    for (const auto& line : lines) {
        fitted.push_back(layOut(face, line, OnboardingLabelRenderer::minimumFontSize));
    }
    return fitted;
}

// Draws the line with its baseline origin at (originX, originY), y upwards from the label's bottom.
// The baseline goes to the nearest whole row: the hinted outlines only line up with the pixel grid
// from there.
void draw(FT_Face face, const FittedLine& line, double originX, double originY, std::vector<std::uint8_t>& pixels)
{
    const int baseline = static_cast<int>(std::lround(originY));
    setSize(face, line.size);
    for (const auto& glyph : line.glyphs) {
        if (FT_Load_Glyph(face, glyph.index, glyphLoadFlags) != 0 || face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) {
            continue;
        }
        const double x = originX + glyph.penX;
        const double wholeX = std::floor(x);
        FT_Outline_Translate(&face->glyph->outline, std::lround((x - wholeX) * 64), 0);
        if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) {
            continue;
        }
        const FT_Bitmap& bitmap = face->glyph->bitmap;
        for (unsigned int row = 0; row < bitmap.rows; ++row) {
            // Pixel rows counted upwards from the label's bottom edge.
            const int up = baseline + face->glyph->bitmap_top - 1 - static_cast<int>(row);
            const int top = OnboardingLabelRenderer::height - 1 - up;
            if (top < 0 || top >= OnboardingLabelRenderer::height) {
                continue;
            }
            for (unsigned int column = 0; column < bitmap.width; ++column) {
                const int left = static_cast<int>(wholeX) + face->glyph->bitmap_left + static_cast<int>(column);
                if (left < 0 || left >= OnboardingLabelRenderer::width) {
                    continue;
                }
                const std::uint8_t value
                    = bitmap.buffer[row * static_cast<unsigned int>(std::abs(bitmap.pitch)) + column];
                std::uint8_t& pixel
                    = pixels[static_cast<std::size_t>(top) * OnboardingLabelRenderer::width + static_cast<std::size_t>(left)];
                pixel = std::max(pixel, value);
            }
        }
    }
}

std::vector<std::uint8_t> render(FT_Face face, const std::string& label, OnboardingLabelStage stage)
{
    std::vector<std::string> lines;
    for (const auto& part : QString::fromStdString(label).split(QChar('\n'))) {
        for (const auto& piece : part.split(QRegularExpression("[\\r\\v\\f\\x{85}\\x{2028}\\x{2029}]"))) {
            const std::string trimmedPiece = text::trimmed(piece.toStdString());
            if (!trimmedPiece.empty()) {
                lines.push_back(trimmedPiece);
            }
        }
    }
    if (lines.empty() || lines.size() > 2) {
        throw OnboardingLabelRendererError(OnboardingLabelRendererError::Kind::invalidLabel, stage);
    }
    std::vector<std::uint8_t> pixels(
        static_cast<std::size_t>(OnboardingLabelRenderer::width * OnboardingLabelRenderer::height), 0);
    const OnboardingLabelLayout band = layout(stage);
    const double cellHeight = static_cast<double>(band.rowCount) / static_cast<double>(lines.size());
    const auto fitted = fittedLines(
        face, lines, OnboardingLabelRenderer::width - 2 * OnboardingLabelRenderer::horizontalInset, cellHeight);
    for (std::size_t index = 0; index < fitted.size(); ++index) {
        const Bounds& bounds = fitted[index].bounds;
        const double centreRow = band.firstRow + cellHeight * (static_cast<double>(index) + 0.5);
        const double x = (OnboardingLabelRenderer::width - bounds.width) / 2 - bounds.x;
        const double y = (OnboardingLabelRenderer::height - centreRow) - (bounds.y + bounds.height / 2);
        draw(face, fitted[index], x, y, pixels);
    }
    return pixels;
}

} // namespace

OnboardingLabelRendererError::OnboardingLabelRendererError(Kind kind, OnboardingLabelStage stage)
    : std::runtime_error(rendererMessage(kind, stage))
    , errorKind(kind)
    , errorStage(stage)
{
}

OnboardingLabelCopy OnboardingLabelCopy::localized()
{
    return { {
        { OnboardingLabelStage::pressButton, "PRESS BUTTON" },
        { OnboardingLabelStage::startingWifi, "STARTING WI-FI" },
        { OnboardingLabelStage::scanningWifi, "SCANNING WI-FI" },
        { OnboardingLabelStage::selectWifi, "SELECT WI-FI" },
        { OnboardingLabelStage::checkingWifi, "CHECKING WI-FI" },
        { OnboardingLabelStage::readyToInstall, "READY TO\nINSTALL" },
        { OnboardingLabelStage::installingTavrik, "INSTALLING\nTAVRIK" },
        { OnboardingLabelStage::holdToAbort, "HOLD TO\nABORT" },
    } };
}

std::vector<std::uint8_t> OnboardingLabelRenderer::renderGray(
    const std::string& label, OnboardingLabelStage stage, const std::string& fontPath)
{
    const FontFace face(fontPath);
    return render(face.get(), label, stage);
}

Data OnboardingLabelRenderer::makePack(const OnboardingLabelCopy& copy, const std::string& fontPath)
{
    const FontFace face(fontPath);
    std::map<OnboardingLabelStage, Data> masks;
    for (const auto stage : allOnboardingLabelStages) {
        const auto found = copy.labels.find(stage);
        if (found == copy.labels.end()) {
            throw OnboardingLabelRendererError(OnboardingLabelRendererError::Kind::invalidLabel, stage);
        }
        masks[stage] = packForDisplay(render(face.get(), found->second, stage));
    }
    return OnboardingLabelProtocol::makePack(masks);
}

Data OnboardingLabelRenderer::packForDisplay(const std::vector<std::uint8_t>& pixels)
{
    if (pixels.size() != static_cast<std::size_t>(width) * height) {
        throw OnboardingLabelRendererError(OnboardingLabelRendererError::Kind::bitmapCreationFailed);
    }
    Data mask(OnboardingLabelProtocol::fullMaskBytes, 0);
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const std::uint8_t gray
                = pixels[static_cast<std::size_t>(height - 1 - row) * width + static_cast<std::size_t>(width - 1 - column)];
            if (gray >= 64) {
                mask[static_cast<std::size_t>(row) * 20 + static_cast<std::size_t>(column / 8)]
                    |= static_cast<std::uint8_t>(0x80 >> (column % 8));
            }
        }
    }
    return mask;
}

} // namespace tavrik
