#include "TavrikLink/Ui/UserActivityMonitor.hpp"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTest>
#include <QWidget>

namespace tavrik::test {
namespace {

TEST(UserActivityMonitor, CountsEachInputEventOnceWhileRunning)
{
    QWidget window;
    auto* field = new QLineEdit(&window);
    window.resize(200, 100);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    field->setFocus();
    QWindow* handle = window.windowHandle();

    int activity = 0;
    UserActivityMonitor monitor([&] { ++activity; });
    monitor.start();
    monitor.start(); // a second start installs nothing more
    EXPECT_TRUE(monitor.isRunning());

    // Each case starts with the pointer where its first event happens, so only its own events count.
    struct Case {
        const char* name;
        QPoint start;
        std::function<void()> send;
        int events;
    };
    const std::vector<Case> cases {
        { "key press and release", QPoint(10, 10), [&] { QTest::keyClick(handle, Qt::Key_A); }, 1 },
        { "mouse press and release", QPoint(10, 10),
            [&] { QTest::mouseClick(handle, Qt::LeftButton, {}, QPoint(10, 10)); }, 1 },
        { "pointer move without a button", QPoint(10, 10), [&] { QTest::mouseMove(handle, QPoint(40, 30)); }, 1 },
        { "drag", QPoint(10, 10),
            [&] {
                QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(10, 10));
                QTest::mouseMove(handle, QPoint(60, 20));
                QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(60, 20));
            },
            2 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTest::mouseMove(handle, c.start);
        activity = 0;
        c.send();
        EXPECT_EQ(activity, c.events);
    }
    EXPECT_EQ(field->text(), "a") << "events are passed on unchanged";

    monitor.stop();
    activity = 0;
    QTest::keyClick(handle, Qt::Key_B);
    EXPECT_EQ(activity, 0);
    monitor.start();
    QTest::keyClick(handle, Qt::Key_C);
    EXPECT_EQ(activity, 1);
}

} // namespace
} // namespace tavrik::test
