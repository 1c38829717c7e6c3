#include "TavrikLink/Support/TavrikResources.hpp"
#include "TavrikLink/Ui/ContentView.hpp"
#include "TavrikLink/Ui/DeviceChoiceCard.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "TavrikLink/Ui/TavrikLinkMainWindow.hpp"
#include "TavrikLink/Ui/UsbSetupView.hpp"
#include "tests/controller/ControllerTestSupport.hpp"
#include "tests/views/UsbSetupTestWorld.hpp"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace tavrik::test {
namespace {

using Target = UsbOnboardingTarget;

// Keeps a picture of the widget in TAVRIK_UI_SHOTS, when set, to look at.
void saveShot(QWidget& widget, const QString& name)
{
    const QString folder = qEnvironmentVariable("TAVRIK_UI_SHOTS");
    if (!folder.isEmpty()) {
        QCoreApplication::processEvents();
        widget.grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
    }
}

class UsbSetupViewTest : public ::testing::Test, public UsbSetupWorld {
protected:
    std::unique_ptr<UsbSetupView> view;

    void SetUp() override
    {
        TavrikResources::setResourceDirectoryOverride(QStringLiteral(TAVRIK_LINK_RESOURCES));
        view = std::make_unique<UsbSetupView>(makeModel());
        view->resize(360, 560);
        view->show();
    }
    void TearDown() override
    {
        view.reset();
        TavrikResources::setResourceDirectoryOverride(QStringLiteral(TAVRIK_LINK_RESOURCES));
    }

    template <class T = QWidget>
    T* find(const QString& name) const
    {
        auto* widget = view->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }
    bool shown(const QString& name) const
    {
        auto* widget = find(name);
        return widget && widget->isVisibleTo(view.get());
    }
    QString textOf(const QString& name) const
    {
        auto* label = find<QLabel>(name);
        return label ? label->text() : QString();
    }
    void click(const QString& name)
    {
        auto* button = find<QAbstractButton>(name);
        ASSERT_TRUE(button && button->isVisibleTo(view.get()) && button->isEnabled()) << name.toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    }
};

TEST_F(UsbSetupViewTest, WalksAnEmbedFromWaitingToInstalled)
{
    window->modify([](ContentViewPresenter::State& state) { state.showingUsbSetupFlow = true; });
    EXPECT_TRUE(shown("usbMessage"));
    EXPECT_EQ(textOf("usbMessage"), "Connect and activate the device you want to set up");
    EXPECT_FALSE(shown("usbCheckingSpinner"));
    EXPECT_FALSE(shown("usbDevicePicker"));
    saveShot(*view, "usb-waiting");

    usb.ports = { port };
    usb.scheduler.advance(std::chrono::milliseconds(500));
    EXPECT_TRUE(shown("usbCheckingSpinner"));
    EXPECT_EQ(textOf("usbMessage"), "Checking if Tavrik can be installed");
    saveShot(*view, "usb-checking");
    answer("probe", R"({"state":"other"})");
    EXPECT_FALSE(shown("usbMessage"));
    EXPECT_TRUE(shown("usbHeadline"));
    EXPECT_FALSE(shown("usbTargetSetup"));
    saveShot(*view, "usb-picker");

    click("deviceCard-other");
    EXPECT_TRUE(shown("usbUnsupportedNote"));
    EXPECT_FALSE(shown("usbHeadline"));
    saveShot(*view, "usb-other");
    click("deviceCard-t-embed-cc1101");
    EXPECT_FALSE(shown("usbUnsupportedNote"));
    EXPECT_TRUE(find<DeviceChoiceCard>("deviceCard-t-embed-cc1101")->isSelected());
    EXPECT_FALSE(find<DeviceChoiceCard>("deviceCard-other")->isSelected());
    answer("probe", R"({"state":"other"})");
    EXPECT_TRUE(shown("usbStatusSpinner"));
    saveShot(*view, "usb-verifying");
    answer("hardware-probe", probePass(Target::lilyGoTEmbedCc1101));

    // The scan the window started keeps the form busy.
    EXPECT_TRUE(shown("usbWifiForm"));
    EXPECT_FALSE(find<QComboBox>("usbWifiNetworkPicker")->isEnabled());
    EXPECT_FALSE(find<QToolButton>("usbWifiScanButton")->isEnabled());
    EXPECT_FALSE(find<QLineEdit>("usbWifiPassword")->isEnabled());
    EXPECT_EQ(find<QComboBox>("usbWifiNetworkPicker")->currentText(), "No networks found");
    saveShot(*view, "usb-scanning");
    answer("wifi-scan", scanOutput());
    auto* picker = find<QComboBox>("usbWifiNetworkPicker");
    EXPECT_TRUE(picker->isEnabled());
    EXPECT_EQ(picker->count(), 2);
    EXPECT_EQ(picker->currentText(), "Home");
    EXPECT_TRUE(shown("usbInstallButton"));
    EXPECT_FALSE(find<QPushButton>("usbInstallButton")->isEnabled());

    picker->activated(1);
    EXPECT_EQ(window->state().usbWifiSsid, "Cafe");
    auto* password = find<QLineEdit>("usbWifiPassword");
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    QTest::keyClicks(password, "pa ss");
    EXPECT_EQ(window->state().usbWifiPassword, "pa ss");
    click("usbWifiPasswordVisibility");
    EXPECT_EQ(password->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(find<QToolButton>("usbWifiPasswordVisibility")->toolTip(), "Hide password");
    click("usbSaveWifiButton");
    const auto test = pending("wifi-test");
    ASSERT_TRUE(test);
    EXPECT_EQ(std::string(test->input->begin(), test->input->end()), "pa ss\n");
    usb.succeed(test, wifiPass());
    EXPECT_TRUE(find<QPushButton>("usbInstallButton")->isEnabled());
    saveShot(*view, "usb-wifi-verified");

    click("usbInstallButton");
    EXPECT_EQ(window->state().selectedPane, ContentViewPresenter::SidebarPane::firmware);
    answerAlert("Install over USB");
    // The download's size is known from the release: a bar from the start.
    EXPECT_TRUE(shown("usbProgress"));
    EXPECT_FALSE(shown("usbProgressSpinner"));
    EXPECT_EQ(find<QProgressBar>("usbProgress")->value(), 0);
    EXPECT_FALSE(shown("usbDevicePicker"));
    finishDownload();
    const auto flash = pending("flash");
    ASSERT_TRUE(flash);
    flash->onLine("USB_FLASH_PROGRESS 1024 4096");
    EXPECT_TRUE(shown("usbProgress"));
    EXPECT_FALSE(shown("usbProgressSpinner"));
    EXPECT_EQ(find<QProgressBar>("usbProgress")->value(), 250);
    EXPECT_LE(find<QProgressBar>("usbProgress")->width(), 280);
    saveShot(*view, "usb-flashing");
    usb.succeed(flash, "Tavrik firmware installed over USB");
    usb.scheduler.advance(std::chrono::seconds(1));
    answer("configure-wifi-time", "");
    usb.scheduler.advance(std::chrono::seconds(1));
    answer("set-time", "");
    EXPECT_TRUE(shown("usbSuccess"));
    EXPECT_EQ(textOf("usbSuccessTitle"), "Installation successful!");
    // What the installer reported stands under the title.
    EXPECT_TRUE(shown("usbSuccessMessage"));
    EXPECT_TRUE(textOf("usbSuccessMessage").contains(QStringLiteral("Time updated.")))
        << textOf("usbSuccessMessage").toStdString();
    saveShot(*view, "usb-installed");
    click("usbContinueButton");
    EXPECT_FALSE(window->state().showingUsbSetupFlow);
}

TEST_F(UsbSetupViewTest, WakeFailureAndRetryScreens)
{
    window->modify([](ContentViewPresenter::State& state) { state.showingUsbSetupFlow = true; });
    usb.ports = { port };
    usb.scheduler.advance(std::chrono::milliseconds(500));
    usb.fail(pending("probe"), 1, "Failed to synchronize with the ESP32 bootloader on /dev/ttyUSB0");
    ASSERT_EQ(service->usbOnboardingCheckState(), UsbOnboardingCheckState::needsManualWake);
    EXPECT_EQ(textOf("usbMessage"), "Wake the connected device, then check again");
    EXPECT_TRUE(shown("usbCheckAgainButton"));
    saveShot(*view, "usb-wake");
    click("usbCheckAgainButton");
    answer("probe", R"({"state":"other"})");
    EXPECT_FALSE(shown("usbCheckAgainButton"));
    click("deviceCard-m5stick-c");
    answer("probe", R"({"state":"other"})");
    usb.fail(pending("hardware-probe"), 1, "The display did not respond.");
    ASSERT_EQ(service->usbFlashStatus().phase, UsbFlashStatus::Phase::failed);
    EXPECT_TRUE(shown("usbFailure"));
    EXPECT_EQ(textOf("usbFailureTitle"), "USB device check failed.");
    EXPECT_FALSE(shown("usbStatusMessage"));
    EXPECT_FALSE(shown("usbInstallButton"));
    EXPECT_EQ(textOf("usbFailureMessage").toStdString(), service->usbFlashStatus().message);
    saveShot(*view, "usb-failed");
    click("usbTryAgainButton");
    EXPECT_NE(service->usbFlashStatus().phase, UsbFlashStatus::Phase::failed);
    EXPECT_FALSE(shown("usbFailure"));
}

TEST_F(UsbSetupViewTest, CardsShareTheRowAndShowTheirArtwork)
{
    window->modify([](ContentViewPresenter::State& state) { state.showingUsbSetupFlow = true; });
    usb.ports = { port };
    usb.scheduler.advance(std::chrono::milliseconds(500));
    answer("probe", R"({"state":"other"})");
    QCoreApplication::processEvents();
    const auto cards = view->cards();
    ASSERT_EQ(cards.size(), 3u);
    for (auto* card : cards) {
        EXPECT_EQ(card->height(), 146);
        EXPECT_LE(std::abs(card->width() - cards.front()->width()), 1);
        EXPECT_FALSE(card->isSelected());
    }
    EXPECT_EQ(cards[0]->artwork(), DeviceChoiceCard::Artwork::picture);
    EXPECT_EQ(cards[1]->artwork(), DeviceChoiceCard::Artwork::picture);
    EXPECT_EQ(cards[2]->artwork(), DeviceChoiceCard::Artwork::questionMark);
    EXPECT_EQ(cards[1]->accessibleName(), "LILYGO T-Embed CC1101");
    EXPECT_EQ(cards[2]->accessibleName(), "Other");

    // A click asks once and leaves the selection to the caller.
    QTemporaryDir empty;
    TavrikResources::setResourceDirectoryOverride(empty.path());
    DeviceChoiceCard missing(Target::m5StickCPlus2, false);
    EXPECT_EQ(missing.artwork(), DeviceChoiceCard::Artwork::fallbackSymbol);
    int asked = 0;
    QObject::connect(&missing, &DeviceChoiceCard::selectRequested, [&] { ++asked; });
    missing.resize(120, 146);
    missing.show();
    QTest::mouseClick(&missing, Qt::LeftButton);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(missing.isSelected());
    missing.setSelected(true);
    EXPECT_TRUE(missing.isChecked());
}

// The whole window on a controller whose USB world is scripted.
class UsbSetupInWindow : public ControllerTest {
protected:
    FakeUsbEnvironment usb;
    std::unique_ptr<TavrikLinkApplication> app;

    void TearDown() override { app.reset(); }
};

TEST_F(UsbSetupInWindow, TheOverlayOffersTheFlowAndShowsIt)
{
    controller = std::make_unique<TavrikBleCentral>(TavrikBleCentral::Environment {
        central, scheduler, clock, random, defaults, "/nonexistent/local-link", false, {}, usb.environment() });
    app = std::make_unique<TavrikLinkApplication>(AppOptions {},
        TavrikLinkApplication::Environment { scheduler, TavrikResources(QStringLiteral("/nonexistent/bin")), [](int) {},
            false, controller.get(), &clock });
    app->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
    settle();
    ContentView& content = *app->contentView();
    auto* setUp = content.findChild<QPushButton*>(QStringLiteral("setUpNewDeviceButton"));
    ASSERT_NE(setUp, nullptr);
    ASSERT_TRUE(setUp->isVisible());
    // The flow and its board pictures wait until the flow is first asked for: most starts never show it.
    EXPECT_EQ(content.findChild<UsbSetupView*>(), nullptr);
    EXPECT_EQ(content.findChild<DeviceChoiceCard*>(), nullptr);
    EXPECT_FALSE(controller->usbOnboarding().isMonitoring());

    QTest::mouseClick(setUp, Qt::LeftButton);
    EXPECT_TRUE(content.presenter().state().showingUsbSetupFlow);
    auto* flow = content.findChild<UsbSetupView*>();
    ASSERT_NE(flow, nullptr);
    EXPECT_TRUE(flow->isVisible());
    EXPECT_TRUE(controller->usbOnboarding().isMonitoring());
    usb.ports = { "/dev/ttyACM0" };
    usb.scheduler.advance(std::chrono::milliseconds(500));
    ASSERT_TRUE(usb.onlyPending());
    usb.succeed(usb.onlyPending(), R"({"state":"other"})");
    EXPECT_EQ(flow->shownScreen().kind, UsbSetupScreen::Kind::picker);
    saveShot(app->mainWindow(), "usb-window-picker");

    // The instruction under the cards takes two lines; the overlay gives the flow all the height it needs.
    QTest::mouseClick(flow->findChild<DeviceChoiceCard*>(QStringLiteral("deviceCard-t-embed-cc1101")), Qt::LeftButton);
    usb.succeed(usb.onlyPending(), R"({"state":"other"})");
    for (int round = 0; round < 5; ++round) {
        QCoreApplication::processEvents();
    }
    auto* status = flow->findChild<QLabel*>(QStringLiteral("usbStatusMessage"));
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->isVisible());
    EXPECT_GT(status->heightForWidth(status->width()), status->fontMetrics().lineSpacing() + 4) << "two lines";
    EXPECT_GE(status->height(), status->heightForWidth(status->width()));
    EXPECT_GE(flow->height(), flow->heightForWidth(flow->width())) << "nothing in the flow is squeezed";
    saveShot(app->mainWindow(), "usb-window-verifying");

    auto* back = content.findChild<QToolButton*>(QStringLiteral("usbSetupBackButton"));
    ASSERT_NE(back, nullptr);
    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_FALSE(content.presenter().state().showingUsbSetupFlow);
    EXPECT_FALSE(flow->isVisible());
    EXPECT_FALSE(controller->usbOnboarding().isMonitoring());
}

} // namespace
} // namespace tavrik::test
