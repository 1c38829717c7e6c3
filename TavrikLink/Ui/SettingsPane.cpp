#include "TavrikLink/Ui/SettingsPane.hpp"

#include "TavrikLink/Ui/PaneStyle.hpp"
#include "TavrikLink/Views/SettingsPanePresenter.hpp"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace tavrik {
namespace {

constexpr int sectionMaximumWidth = 560;

QLabel* wrappedLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

} // namespace

WifiSettingsSectionPlaceholder::WifiSettingsSectionPlaceholder(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("wifiSettingsSectionPlaceholder"));
}

SettingsPane::SettingsPane(SettingsPanePresenter& presenter, QWidget* parent)
    : QScrollArea(parent)
    , presenter(presenter)
{
    setObjectName(QStringLiteral("settingsPane"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 8, 24, 8);
    column->setSpacing(16);

    auto* title = new QLabel(SettingsPanePresenter::title(), content);
    paneStyle::makeTitle(title, 1.3);
    column->addWidget(title);

    settingsError = wrappedLabel(QString(), content);
    settingsError->setObjectName(QStringLiteral("settingsError"));
    settingsError->setTextFormat(Qt::PlainText);
    paneStyle::setTextColor(settingsError, paneStyle::failureColor());
    column->addWidget(settingsError);

    mute = new QCheckBox(SettingsPanePresenter::muteTitle(), content);
    connect(mute, &QCheckBox::clicked, this, [this](bool checked) { this->presenter.setMuteNonAlarmSounds(checked); });
    column->addWidget(mute);

    auto* muteCaption = wrappedLabel(SettingsPanePresenter::muteCaption(), content);
    paneStyle::makeCaption(muteCaption);
    paneStyle::makeSecondary(muteCaption);
    column->addWidget(muteCaption);
    column->addWidget(paneStyle::divider(content));

    auto* killSwitch = new QWidget(content);
    killSwitch->setMaximumWidth(sectionMaximumWidth);
    auto* killSwitchColumn = new QVBoxLayout(killSwitch);
    killSwitchColumn->setContentsMargins(0, 0, 0, 0);
    killSwitchColumn->setSpacing(10);

    auto* killSwitchTitle = new QLabel(SettingsPanePresenter::killSwitchTitle(), killSwitch);
    paneStyle::makeHeadline(killSwitchTitle);
    killSwitchColumn->addWidget(killSwitchTitle);
    auto* killSwitchCaption = wrappedLabel(SettingsPanePresenter::killSwitchCaption(), killSwitch);
    paneStyle::makeCaption(killSwitchCaption);
    paneStyle::makeSecondary(killSwitchCaption);
    killSwitchColumn->addWidget(killSwitchCaption);

    unsupportedText = wrappedLabel(SettingsPanePresenter::killSwitchUnsupportedText(), killSwitch);
    paneStyle::makeCaption(unsupportedText);
    paneStyle::makeSecondary(unsupportedText);
    killSwitchColumn->addWidget(unsupportedText);

    configured = new QWidget(killSwitch);
    auto* configuredColumn = new QVBoxLayout(configured);
    configuredColumn->setContentsMargins(0, 0, 0, 0);
    configuredColumn->setSpacing(10);

    auto* tagBlock = new QVBoxLayout;
    tagBlock->setSpacing(3);
    noTagText = new QLabel(SettingsPanePresenter::noKillSwitchText(), configured);
    paneStyle::makeSecondary(noTagText);
    tagBlock->addWidget(noTagText);
    tagName = new QLabel(configured);
    tagName->setTextFormat(Qt::PlainText);
    tagName->setWordWrap(true);
    tagBlock->addWidget(tagName);
    tagUid = new QLabel(configured);
    tagUid->setTextFormat(Qt::PlainText);
    tagUid->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(font().pointSizeF() * 0.85);
    tagUid->setFont(mono);
    paneStyle::makeSecondary(tagUid);
    tagBlock->addWidget(tagUid);
    configuredColumn->addLayout(tagBlock);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    scan = new QPushButton(configured);
    connect(scan, &QPushButton::clicked, this, [this] { this->presenter.beginKillSwitchScan(); });
    remove = new QPushButton(SettingsPanePresenter::removeTitle(), configured);
    connect(remove, &QPushButton::clicked, this, [this] { this->presenter.removeKillSwitchTag(); });
    cancel = new QPushButton(SettingsPanePresenter::cancelTitle(), configured);
    connect(cancel, &QPushButton::clicked, this, [this] { this->presenter.cancelKillSwitchScan(); });
    buttons->addWidget(scan);
    buttons->addWidget(remove);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    configuredColumn->addLayout(buttons);

    statusRow = new QWidget(configured);
    auto* statusLayout = new QHBoxLayout(statusRow);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(6);
    statusProgress = new QProgressBar(statusRow);
    statusProgress->setRange(0, 0);
    statusProgress->setTextVisible(false);
    // A short busy bar: Qt Widgets has no spinning indicator.
    statusProgress->setFixedSize(56, 8);
    statusLayout->addWidget(statusProgress, 0, Qt::AlignVCenter);
    statusText = wrappedLabel(QString(), statusRow);
    statusText->setTextFormat(Qt::PlainText);
    paneStyle::makeCaption(statusText);
    statusLayout->addWidget(statusText, 1);
    configuredColumn->addWidget(statusRow);

    killSwitchColumn->addWidget(configured);
    column->addWidget(killSwitch);

    wifiDivider = paneStyle::divider(content);
    column->addWidget(wifiDivider);
    wifiContainer = new QWidget(content);
    wifiContainer->setObjectName(QStringLiteral("wifi-settings"));
    wifiContainer->setMaximumWidth(sectionMaximumWidth);
    wifiLayout = new QVBoxLayout(wifiContainer);
    wifiLayout->setContentsMargins(0, 0, 0, 0);
    wifiLayout->setSpacing(10);
    column->addWidget(wifiContainer);
    column->addStretch(1);
    setWidget(content);

    setWifiSection(new WifiSettingsSectionPlaceholder);

    connect(&presenter, &SettingsPanePresenter::changed, this, &SettingsPane::refresh);
    connect(&presenter, &SettingsPanePresenter::wifiSettingsScrollRequested, this, &SettingsPane::scrollToWifiSection);
    refresh();
}

void SettingsPane::setWifiSection(QWidget* section)
{
    if (wifiSectionWidget) {
        wifiLayout->removeWidget(wifiSectionWidget);
        wifiSectionWidget->deleteLater();
    }
    wifiSectionWidget = section;
    if (section) {
        wifiLayout->addWidget(section);
        // A widget added to a pane already on screen stays hidden unless told otherwise.
        section->show();
    }
}

void SettingsPane::refresh()
{
    settingsError->setVisible(presenter.settingsError().has_value());
    settingsError->setText(QString::fromStdString(presenter.settingsError().value_or(std::string())));
    mute->setChecked(presenter.muteNonAlarmSounds());

    const bool supported = presenter.killSwitchSupported();
    unsupportedText->setVisible(!supported);
    configured->setVisible(supported);
    noTagText->setVisible(!presenter.hasKillSwitchTag());
    tagName->setVisible(presenter.hasKillSwitchTag());
    tagUid->setVisible(presenter.hasKillSwitchTag());
    tagName->setText(presenter.killSwitchNameText());
    tagUid->setText(presenter.killSwitchUidText());

    scan->setText(presenter.scanButtonTitle());
    scan->setEnabled(presenter.scanButtonEnabled());
    remove->setVisible(presenter.removeButtonVisible());
    remove->setEnabled(presenter.removeButtonEnabled());
    cancel->setVisible(presenter.cancelButtonVisible());

    statusRow->setVisible(presenter.statusRowVisible());
    statusProgress->setVisible(presenter.statusShowsProgress());
    statusText->setText(presenter.killSwitchScanStatusText());
    if (presenter.statusIsError()) {
        paneStyle::setTextColor(statusText, paneStyle::failureColor());
    } else {
        paneStyle::makeSecondary(statusText);
    }

    wifiDivider->setVisible(presenter.wifiSectionVisible());
    wifiContainer->setVisible(presenter.wifiSectionVisible());
}

void SettingsPane::scrollToWifiSection()
{
    if (!presenter.wifiSectionVisible()) {
        return;
    }
    verticalScrollBar()->setValue(wifiContainer->y());
}

} // namespace tavrik
