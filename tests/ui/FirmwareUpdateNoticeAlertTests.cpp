#include "TavrikLink/Ui/FirmwareUpdateNoticeAlert.hpp"
#include "TavrikLink/Views/FirmwareUpdateNoticePresenter.hpp"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QWidget>

#include <string>
#include <vector>

namespace tavrik {
namespace {

TEST(FirmwareUpdateNoticeAlertTests, EachNoticeAsksAndInstallStarts)
{
    std::vector<std::string> calls;
    FirmwareUpdateNoticePresenter presenter({ [&] { calls.push_back("firmware pane"); },
        [&] { calls.push_back("install"); }, [&] { calls.push_back("dismiss"); } });
    QWidget window;
    window.show();
    FirmwareUpdateNoticeAlert alert(presenter, &window);
    EXPECT_EQ(alert.currentAlert(), nullptr);

    presenter.setNotice(FirmwareUpdateNotice("1.5.0", "Tavrik firmware 1.5.0 is available."));
    ASSERT_NE(alert.currentAlert(), nullptr);
    EXPECT_EQ(alert.currentAlert()->text(), QStringLiteral("Firmware Update Available"));
    EXPECT_EQ(alert.currentAlert()->informativeText(), QStringLiteral("Tavrik firmware 1.5.0 is available."));
    ASSERT_NE(alert.installButton(), nullptr);
    EXPECT_EQ(alert.installButton()->text(), QStringLiteral("Install"));
    alert.installButton()->click();
    EXPECT_EQ(calls, (std::vector<std::string> { "firmware pane", "install", "dismiss" }));
    EXPECT_EQ(alert.currentAlert(), nullptr);

    calls.clear();
    presenter.setNotice(FirmwareUpdateNotice("1.5.1", "Tavrik firmware 1.5.1 is available."));
    ASSERT_NE(alert.currentAlert(), nullptr);
    alert.currentAlert()->button(QMessageBox::Cancel)->click();
    EXPECT_EQ(calls, std::vector<std::string> { "dismiss" });
    EXPECT_EQ(presenter.notice(), std::nullopt);
}

} // namespace
} // namespace tavrik
