#include "TavrikLink/Ui/DeferredIcon.hpp"

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QWidget>

namespace tavrik::test {
namespace {

QIcon squareIcon(const QColor& colour)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

// A deferred icon looks nothing up while a hidden window is built around it, then answers every
// question exactly as the icon it stands for, having looked it up once.
TEST(DeferredIcon, LooksUpOnFirstUseAndThenAnswersAsTheIconItStandsFor)
{
    struct Case {
        const char* name;
        std::function<QIcon()> icon;
    };
    const std::vector<Case> cases {
        { "an icon the theme lacks", [] { return QIcon(); } },
        { "a drawn icon", [] { return squareIcon(Qt::red); } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int lookups = 0;
        const QIcon deferred = deferredIcon([&] {
            ++lookups;
            return c.icon();
        });
        QWidget hidden;
        auto* button = new QPushButton(QStringLiteral("Start"), &hidden);
        button->setIcon(deferred);
        const QIcon copy = button->icon();
        EXPECT_EQ(lookups, 0) << "building a hidden window looked the icon up";

        const QIcon expected = c.icon();
        EXPECT_EQ(copy.isNull(), expected.isNull());
        EXPECT_EQ(copy.availableSizes(), expected.availableSizes());
        EXPECT_EQ(copy.actualSize(QSize(16, 16)), expected.actualSize(QSize(16, 16)));
        EXPECT_EQ(copy.pixmap(16).toImage(), expected.pixmap(16).toImage());
        EXPECT_EQ(copy.pixmap(QSize(16, 16), 2.0).toImage(), expected.pixmap(QSize(16, 16), 2.0).toImage());
        EXPECT_EQ(lookups, 1);
    }
}

} // namespace
} // namespace tavrik::test
