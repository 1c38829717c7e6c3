#pragma once

#include "TavrikLink/Ui/ContentView.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "TavrikLink/Ui/TavrikLinkMainWindow.hpp"
#include "tests/controller/ControllerTestSupport.hpp"

#include <QTest>

#include <memory>

namespace tavrik::test {

// The real window over a real controller and the fake adapter; the test puts a fake Tavrik in range
// first when it wants the window to load one.
class WindowTest : public ControllerTest {
protected:
    std::unique_ptr<TavrikLinkApplication> app;

    // Shows the window on a new controller and lets its first load run.
    void openWindow()
    {
        makeController();
        app = std::make_unique<TavrikLinkApplication>(AppOptions {},
            TavrikLinkApplication::Environment { scheduler, TavrikResources(QStringLiteral("/nonexistent/bin")),
                [](int) {}, false, controller.get(), &clock });
        app->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
        settle();
    }

    void TearDown() override { app.reset(); }

    ContentView& view() { return *app->contentView(); }
};

} // namespace tavrik::test
