#include "TavrikLink/Ui/SymbolIcon.hpp"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>

#include <cstdlib>

namespace tavrik::test {
namespace {

// How many pixels of the symbol drawn at 32 pixels are visible, and how many of them are in `ink`.
struct Drawn {
    int visible = 0;
    int inked = 0;
};

Drawn draw(const QIcon& icon, const QColor& ink)
{
    Drawn drawn;
    const QImage image = icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() < 128) {
                continue;
            }
            ++drawn.visible;
            if (std::abs(pixel.red() - ink.red()) < 40 && std::abs(pixel.green() - ink.green()) < 40
                && std::abs(pixel.blue() - ink.blue()) < 40) {
                ++drawn.inked;
            }
        }
    }
    return drawn;
}

TEST(SymbolIcon, EverySymbolOfTheWindowIsDrawnWithoutAnIconTheme)
{
    QTemporaryDir noThemes;
    const QStringList searchPaths = QIcon::themeSearchPaths();
    const QString theme = QIcon::themeName();
    QIcon::setThemeSearchPaths({ noThemes.path() });
    QIcon::setThemeName(QStringLiteral("none"));

    const QColor ink(0x1f, 0x8a, 0x3b);
    for (const char* name : { "plus", "minus", "trash", "tag", "tag.fill", "list.clipboard", "square.and.arrow.up",
             "gearshape", "play.fill", "clock", "lock.fill", "chevron.right", "chevron.left", "wifi", "lock.wifi",
             "bell.fill", "bell.slash", "checkmark.circle", "checkmark.circle.fill", "exclamationmark.circle",
             "xmark.circle.fill", "arrow.clockwise", "eye", "eye.slash", "eject" }) {
        SCOPED_TRACE(name);
        const QString symbol = QString::fromLatin1(name);
        const QIcon plain = symbolIcon(symbol);
        ASSERT_FALSE(plain.isNull());
        EXPECT_GT(draw(plain, QColor()).visible, 12);
        // A status colour reaches the drawing.
        const Drawn coloured = draw(symbolIcon(symbol, ink, 32), ink);
        EXPECT_GT(coloured.inked, 12);
    }
    EXPECT_TRUE(symbolIcon(QStringLiteral("no.such.symbol")).isNull());

    QIcon::setThemeSearchPaths(searchPaths);
    QIcon::setThemeName(theme);
}

// A theme that has both forms of an action icon, as Adwaita does: a full-colour one and a
// monochrome "-symbolic" one. The window takes the monochrome one, the look of its bundled symbols.
TEST(SymbolIcon, AThemesMonochromeFormIsTakenOverItsFullColourOne)
{
    QTemporaryDir root;
    const QDir themes(root.path());
    ASSERT_TRUE(themes.mkpath(QStringLiteral("mixed/32x32/actions")));
    QFile index(themes.filePath(QStringLiteral("mixed/index.theme")));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=Mixed\nDirectories=32x32/actions\n\n[32x32/actions]\nSize=32\nType=Fixed\n");
    index.close();
    const QColor colourful(0xd0, 0x20, 0x20);
    const QColor monochrome(0x20, 0x20, 0x20);
    for (const auto& [name, colour] :
        { std::pair { "list-add", colourful }, std::pair { "list-add-symbolic", monochrome } }) {
        QImage image(32, 32, QImage::Format_ARGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(themes.filePath(
            QStringLiteral("mixed/32x32/actions/") + QString::fromLatin1(name) + QStringLiteral(".png"))));
    }
    const QStringList searchPaths = QIcon::themeSearchPaths();
    const QString theme = QIcon::themeName();
    QIcon::setThemeSearchPaths({ root.path() });
    QIcon::setThemeName(QStringLiteral("mixed"));

    const Drawn drawn = draw(symbolIcon(QStringLiteral("plus")), monochrome);
    EXPECT_GT(drawn.visible, 500);
    EXPECT_EQ(drawn.inked, drawn.visible);

    QIcon::setThemeSearchPaths(searchPaths);
    QIcon::setThemeName(theme);
}

TEST(SymbolIcon, ActionSymbolsAskTheDesktopThemeFirst)
{
    const std::vector<std::pair<const char*, const char*>> names {
        { "plus", "list-add" },
        { "trash", "edit-delete" },
        { "arrow.clockwise", "view-refresh" },
        { "eject", "media-eject" },
        { "chevron.left", "go-previous" },
        { "gearshape", "preferences-system" },
    };
    for (const auto& [symbol, themed] : names) {
        EXPECT_EQ(themeIconNames(QString::fromLatin1(symbol)).value(0), QString::fromLatin1(themed)) << symbol;
    }
    // Status symbols carry their meaning in their own drawing and colour.
    EXPECT_TRUE(themeIconNames(QStringLiteral("checkmark.circle.fill")).isEmpty());
}

} // namespace
} // namespace tavrik::test
