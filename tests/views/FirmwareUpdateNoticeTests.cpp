#include "TavrikLink/Views/FirmwareUpdateNoticePresenter.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrik {
namespace {

struct FirmwareUpdateNoticeTest : ::testing::Test {
    std::vector<std::string> calls;
    FirmwareUpdateNoticePresenter presenter { { [this] { calls.push_back("firmware pane"); },
        [this] { calls.push_back("install"); }, [this] { calls.push_back("dismiss"); } } };
};

TEST_F(FirmwareUpdateNoticeTest, InstallShowsThePaneStartsAndClears)
{
    presenter.setNotice(FirmwareUpdateNotice("1.5.0", "Tavrik firmware 1.5.0 is available."));
    EXPECT_EQ(presenter.message(), QStringLiteral("Tavrik firmware 1.5.0 is available."));
    presenter.install();
    EXPECT_EQ(calls, (std::vector<std::string> { "firmware pane", "install", "dismiss" }));
    EXPECT_EQ(presenter.notice(), std::nullopt);

    // A second press on a notice already handled does nothing more.
    presenter.install();
    EXPECT_EQ(calls.size(), 3U);
}

TEST_F(FirmwareUpdateNoticeTest, CancelOnlyClears)
{
    presenter.setNotice(FirmwareUpdateNotice("1.5.0", "Tavrik firmware 1.5.0 is available."));
    presenter.dismiss();
    EXPECT_EQ(calls, std::vector<std::string> { "dismiss" });
    EXPECT_EQ(presenter.notice(), std::nullopt);
}

} // namespace
} // namespace tavrik
