#include "TavrikLink/Ui/UsbSetupView.hpp"

#include "TavrikLink/Ui/SymbolIcon.hpp"

#include "TavrikLink/Ui/BusyIndicator.hpp"
#include "TavrikLink/Ui/DeviceChoiceCard.hpp"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace tavrik {

namespace {

const QColor green(0x2e, 0xa0, 0x43);
const QColor red(0xd7, 0x26, 0x1e);

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

QLabel* label(QWidget* parent, const QString& name, const QString& content = {})
{
    auto* item = new QLabel(content, parent);
    item->setObjectName(name);
    item->setWordWrap(true);
    return item;
}

void setColour(QWidget* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

void dim(QWidget* widget)
{
    setColour(widget, widget->palette().color(QPalette::PlaceholderText));
}

void scaleFont(QWidget* widget, double factor, QFont::Weight weight = QFont::Normal)
{
    QFont font = widget->font();
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setWeight(weight);
    widget->setFont(font);
}

QHBoxLayout* row(QWidget* widget, int spacing)
{
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

// A filled circle with a white check mark, as the success screen and the verified line show it.
QPixmap checkmarkCircle(int size, const QColor& colour, qreal ratio)
{
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
    QPainterPath check;
    check.moveTo(size * 0.28, size * 0.52);
    check.lineTo(size * 0.44, size * 0.68);
    check.lineTo(size * 0.72, size * 0.36);
    painter.setPen(QPen(Qt::white, size * 0.09, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(check);
    return pixmap;
}

} // namespace

UsbSetupView::UsbSetupView(std::unique_ptr<UsbSetupPresenter> model, QWidget* parent)
    : QWidget(parent)
    , setup(std::move(model))
{
    setObjectName(QStringLiteral("usbSetupContent"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("usbProgress"));
    progress->setFixedWidth(280);
    progress->setTextVisible(false);
    layout->addWidget(progress, 0, Qt::AlignHCenter);
    progressSpinner = new BusyIndicator(BusyIndicator::Size::large, this);
    progressSpinner->setObjectName(QStringLiteral("usbProgressSpinner"));
    layout->addWidget(progressSpinner, 0, Qt::AlignHCenter);

    success = new QWidget(this);
    success->setObjectName(QStringLiteral("usbSuccess"));
    auto* successLayout = new QVBoxLayout(success);
    successLayout->setContentsMargins(0, 0, 0, 0);
    successLayout->setSpacing(16);
    auto* icon = label(success, QStringLiteral("usbSuccessIcon"));
    icon->setPixmap(checkmarkCircle(72, green, devicePixelRatioF()));
    icon->setAlignment(Qt::AlignCenter);
    successLayout->addWidget(icon);
    auto* successTitle
        = label(success, QStringLiteral("usbSuccessTitle"), QString::fromUtf8(UsbSetupPresenter::successText));
    successTitle->setAlignment(Qt::AlignCenter);
    scaleFont(successTitle, 1.45, QFont::DemiBold);
    successLayout->addWidget(successTitle);
    successMessage = label(success, QStringLiteral("usbSuccessMessage"));
    successMessage->setAlignment(Qt::AlignCenter);
    dim(successMessage);
    successLayout->addWidget(successMessage);
    auto* continueButton = new QPushButton(QString::fromUtf8(UsbSetupPresenter::continueText), success);
    continueButton->setObjectName(QStringLiteral("usbContinueButton"));
    continueButton->setDefault(true);
    connect(continueButton, &QPushButton::clicked, this, [this] { setup->continueAfterInstall(); });
    successLayout->addWidget(continueButton, 0, Qt::AlignHCenter);
    layout->addWidget(success);

    messageRow = new QWidget(this);
    messageLayout = row(messageRow, 8);
    messageLayout->addStretch();
    checkingSpinner = new BusyIndicator(BusyIndicator::Size::small, messageRow);
    checkingSpinner->setObjectName(QStringLiteral("usbCheckingSpinner"));
    messageLayout->addWidget(checkingSpinner);
    message = label(messageRow, QStringLiteral("usbMessage"));
    message->setAlignment(Qt::AlignCenter);
    dim(message);
    messageLayout->addWidget(message, 1);
    messageLayout->addStretch();
    layout->addWidget(messageRow);

    checkAgain = new QPushButton(QString::fromUtf8(UsbSetupPresenter::checkAgainText), this);
    checkAgain->setObjectName(QStringLiteral("usbCheckAgainButton"));
    checkAgain->setDefault(true);
    connect(checkAgain, &QPushButton::clicked, this, [this] { setup->checkAgain(); });
    layout->addWidget(checkAgain, 0, Qt::AlignHCenter);

    picker = new QWidget(this);
    picker->setObjectName(QStringLiteral("usbDevicePicker"));
    auto* pickerLayout = new QVBoxLayout(picker);
    pickerLayout->setContentsMargins(0, 0, 0, 0);
    pickerLayout->setSpacing(12);
    headline = label(picker, QStringLiteral("usbHeadline"), QString::fromUtf8(UsbSetupPresenter::headline));
    headline->setAlignment(Qt::AlignCenter);
    scaleFont(headline, 1.1, QFont::DemiBold);
    pickerLayout->addWidget(headline);
    auto* cardRow = new QWidget(picker);
    auto* cardLayout = row(cardRow, 12);
    for (UsbOnboardingTarget target : allUsbOnboardingTargets) {
        auto* card = new DeviceChoiceCard(target, false, cardRow);
        connect(card, &DeviceChoiceCard::selectRequested, this, [this, target] { setup->chooseTarget(target); });
        deviceCards.push_back(card);
        cardLayout->addWidget(card, 1);
    }
    auto* other = new OtherDeviceChoiceCard(false, cardRow);
    connect(other, &DeviceChoiceCard::selectRequested, this, [this] { setup->chooseOtherDevice(); });
    deviceCards.push_back(other);
    cardLayout->addWidget(other, 1);
    pickerLayout->addWidget(cardRow);
    unsupportedNote
        = label(picker, QStringLiteral("usbUnsupportedNote"), QString::fromUtf8(UsbSetupPresenter::unsupportedNote));
    unsupportedNote->setAlignment(Qt::AlignCenter);
    scaleFont(unsupportedNote, 0.85);
    dim(unsupportedNote);
    pickerLayout->addWidget(unsupportedNote);
    layout->addWidget(picker);

    targetSetup = new QWidget(this);
    targetSetup->setObjectName(QStringLiteral("usbTargetSetup"));
    auto* setupLayout = new QVBoxLayout(targetSetup);
    setupLayout->setContentsMargins(0, 0, 0, 0);
    setupLayout->setSpacing(12);
    wifiForm = buildWifiForm();
    setupLayout->addWidget(wifiForm);

    failure = new QWidget(targetSetup);
    failure->setObjectName(QStringLiteral("usbFailure"));
    auto* failureLayout = new QVBoxLayout(failure);
    failureLayout->setContentsMargins(0, 0, 0, 0);
    failureLayout->setSpacing(6);
    failureTitle = label(failure, QStringLiteral("usbFailureTitle"));
    failureTitle->setAlignment(Qt::AlignCenter);
    setColour(failureTitle, red);
    failureLayout->addWidget(failureTitle);
    failureMessage = label(failure, QStringLiteral("usbFailureMessage"));
    failureMessage->setAlignment(Qt::AlignCenter);
    failureMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    scaleFont(failureMessage, 0.85);
    dim(failureMessage);
    failureLayout->addWidget(failureMessage);
    auto* tryAgain = new QPushButton(QString::fromUtf8(UsbSetupPresenter::tryAgainText), failure);
    tryAgain->setObjectName(QStringLiteral("usbTryAgainButton"));
    tryAgain->setDefault(true);
    connect(tryAgain, &QPushButton::clicked, this, [this] { setup->tryAgain(); });
    failureLayout->addWidget(tryAgain, 0, Qt::AlignHCenter);
    setupLayout->addWidget(failure);

    statusRow = new QWidget(targetSetup);
    auto* statusLayout = row(statusRow, 8);
    statusLayout->addStretch();
    statusSpinner = new BusyIndicator(BusyIndicator::Size::small, statusRow);
    statusSpinner->setObjectName(QStringLiteral("usbStatusSpinner"));
    statusLayout->addWidget(statusSpinner);
    statusMessage = label(statusRow, QStringLiteral("usbStatusMessage"));
    statusMessage->setAlignment(Qt::AlignCenter);
    dim(statusMessage);
    statusLayout->addWidget(statusMessage, 1);
    statusLayout->addStretch();
    setupLayout->addWidget(statusRow);

    installButton = new QPushButton(QString::fromUtf8(UsbSetupPresenter::installText), targetSetup);
    installButton->setObjectName(QStringLiteral("usbInstallButton"));
    installButton->setDefault(true);
    connect(installButton, &QPushButton::clicked, this, [this] { setup->install(); });
    setupLayout->addWidget(installButton, 0, Qt::AlignHCenter);
    layout->addWidget(targetSetup);
    // Spare height goes below the flow, so it keeps its spacing.
    layout->addStretch(1);

    connect(setup.get(), &UsbSetupPresenter::changed, this, &UsbSetupView::refresh);
    refresh();
}

UsbSetupView::~UsbSetupView() = default;

QWidget* UsbSetupView::buildWifiForm()
{
    auto* form = new QWidget(this);
    form->setObjectName(QStringLiteral("usbWifiForm"));
    auto* layout = new QVBoxLayout(form);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    const int spacing = UsbWifiLayoutMetrics::controlSpacing;
    const int accessory = UsbWifiLayoutMetrics::accessoryWidth;

    auto* explanation
        = label(form, QStringLiteral("usbWifiExplanation"), QString::fromUtf8(UsbSetupPresenter::wifiExplanation));
    scaleFont(explanation, 0.8);
    dim(explanation);
    layout->addWidget(explanation);

    auto* networkRow = new QWidget(form);
    auto* networkLayout = row(networkRow, spacing);
    networkPicker = new QComboBox(networkRow);
    networkPicker->setObjectName(QStringLiteral("usbWifiNetworkPicker"));
    networkPicker->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    networkPicker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    networkPicker->setMinimumContentsLength(8);
    connect(networkPicker, &QComboBox::activated, this,
        [this](int index) { setup->setWifiSsid(networkPicker->itemData(index).toString().toStdString()); });
    networkLayout->addWidget(networkPicker, 1);
    scanButton = new QToolButton(networkRow);
    scanButton->setObjectName(QStringLiteral("usbWifiScanButton"));
    scanButton->setAutoRaise(true);
    scanButton->setIcon(symbolIcon(QStringLiteral("arrow.clockwise")));
    scanButton->setFixedWidth(accessory);
    scanButton->setToolTip(QString::fromUtf8(UsbSetupPresenter::scanAgainText));
    scanButton->setAccessibleName(QString::fromUtf8(UsbSetupPresenter::scanAgainText));
    connect(scanButton, &QToolButton::clicked, this, [this] { setup->scanAgain(); });
    networkLayout->addWidget(scanButton);
    layout->addWidget(networkRow);

    passwordRow = new QWidget(form);
    auto* passwordLayout = row(passwordRow, spacing);
    password = new QLineEdit(passwordRow);
    password->setObjectName(QStringLiteral("usbWifiPassword"));
    password->setPlaceholderText(QString::fromUtf8(UsbSetupPresenter::passwordPlaceholder));
    connect(password, &QLineEdit::textEdited, this,
        [this](const QString& value) { setup->setWifiPassword(value.toStdString()); });
    passwordLayout->addWidget(password, 1);
    visibilityButton = new QToolButton(passwordRow);
    visibilityButton->setObjectName(QStringLiteral("usbWifiPasswordVisibility"));
    visibilityButton->setAutoRaise(true);
    visibilityButton->setFixedWidth(accessory);
    connect(visibilityButton, &QToolButton::clicked, this, [this] { setup->toggleWifiPasswordVisible(); });
    passwordLayout->addWidget(visibilityButton);
    layout->addWidget(passwordRow);

    auto* buttonRow = new QWidget(form);
    auto* buttonLayout = row(buttonRow, spacing);
    saveWifi = new QPushButton(QString::fromUtf8(UsbSetupPresenter::saveWifiText), buttonRow);
    saveWifi->setObjectName(QStringLiteral("usbSaveWifiButton"));
    connect(saveWifi, &QPushButton::clicked, this, [this] { setup->saveWifiConfig(); });
    buttonLayout->addWidget(saveWifi, 0, Qt::AlignTop);
    notifications = new QWidget(buttonRow);
    notifications->setObjectName(QStringLiteral("usbWifiNotifications"));
    notificationsLayout = new QVBoxLayout(notifications);
    notificationsLayout->setContentsMargins(0, 0, 0, 0);
    notificationsLayout->setSpacing(2);
    buttonLayout->addWidget(notifications, 1);
    buttonLayout->addSpacing(accessory);
    layout->addWidget(buttonRow);
    return form;
}

bool UsbSetupView::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // Wrapped texts take more lines as they change. A host that centres the flow does not ask for
    // heights that depend on the width, so the flow states its own as its minimum (its layout has
    // just been brought up to date when the request arrives here).
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize) {
        fitMessage();
        const int needed = layout()->totalHeightForWidth(width());
        if (needed != minimumHeight()) {
            setMinimumHeight(needed);
        }
    }
    return handled;
}

void UsbSetupView::fitMessage()
{
    // The row of spinner and text does not pass on a height that depends on the width: a long
    // message (what keeps this computer from the port) states its own.
    const bool wraps = shown.kind != UsbSetupScreen::Kind::checking && !message->text().isEmpty();
    const int needed = wraps ? message->heightForWidth(width()) : 0;
    if (message->minimumHeight() != std::max(needed, 0)) {
        message->setMinimumHeight(std::max(needed, 0));
    }
}

void UsbSetupView::refresh()
{
    const UsbSetupScreen next = setup->screen();
    if (built && next == shown) {
        return;
    }
    built = true;
    shown = next;
    using Kind = UsbSetupScreen::Kind;
    const Kind kind = shown.kind;

    progress->setVisible(kind == Kind::installationProgress && !shown.progressIndeterminate);
    progressSpinner->setVisible(kind == Kind::installationProgress && shown.progressIndeterminate);
    if (kind == Kind::installationProgress && !shown.progressIndeterminate) {
        // Large images do not fit an int: the bar runs in thousandths.
        progress->setRange(0, 1000);
        const double fraction = double(shown.bytesTransferred) / double(shown.totalBytes);
        progress->setValue(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 1000));
    }
    success->setVisible(kind == Kind::installationSuccess);
    successMessage->setVisible(kind == Kind::installationSuccess && !shown.message.empty());
    successMessage->setText(text(shown.message));
    const bool showsMessage
        = kind == Kind::message || kind == Kind::checking || kind == Kind::manualWake || kind == Kind::hostProblem;
    messageRow->setVisible(showsMessage);
    checkingSpinner->setVisible(kind == Kind::checking);
    // Beside the spinner the short text keeps its own width, so the row's two stretches centre
    // spinner and words together; a wide label would leave the spinner at its far edge.
    message->setText(text(shown.message));
    messageLayout->setStretchFactor(message, kind == Kind::checking ? 0 : 1);
    message->setMinimumWidth(kind == Kind::checking ? message->fontMetrics().horizontalAdvance(message->text()) + 1 : 0);
    fitMessage();
    checkAgain->setVisible(kind == Kind::manualWake || kind == Kind::hostProblem);
    checkAgain->setText(QString::fromUtf8(
        kind == Kind::hostProblem ? UsbSetupPresenter::tryAgainText : UsbSetupPresenter::checkAgainText));

    picker->setVisible(shown.picker.has_value());
    if (shown.picker) {
        headline->setVisible(shown.picker->showsHeadline);
        for (std::size_t index = 0; index < deviceCards.size() && index < shown.picker->cards.size(); ++index) {
            deviceCards[index]->setSelected(shown.picker->cards[index].selected);
        }
        unsupportedNote->setVisible(shown.picker->showsUnsupportedNote);
    }

    targetSetup->setVisible(shown.targetSetup.has_value());
    if (!shown.targetSetup) {
        return;
    }
    const UsbTargetSetup& target = *shown.targetSetup;
    wifiForm->setVisible(target.wifiForm.has_value());
    if (target.wifiForm) {
        refreshWifiForm(*target.wifiForm);
    }
    failure->setVisible(target.failure.has_value());
    if (target.failure) {
        failureTitle->setText(text(target.failure->title));
        failureMessage->setText(text(target.failure->message));
    }
    statusRow->setVisible(!target.failure && target.statusMessage.has_value());
    statusSpinner->setVisible(target.statusSpinner);
    statusMessage->setText(text(target.statusMessage.value_or(std::string())));
    installButton->setVisible(!target.failure && target.showsInstall);
    installButton->setEnabled(target.installEnabled);
}

void UsbSetupView::refreshWifiForm(const UsbWifiForm& form)
{
    {
        const QSignalBlocker blocker(networkPicker);
        networkPicker->clear();
        for (const UsbWifiNetworkItem& item : form.networks) {
            networkPicker->addItem(text(item.title), text(item.value));
        }
        const int selected = networkPicker->findData(text(form.selectedSsid));
        networkPicker->setCurrentIndex(selected >= 0 ? selected : (form.networks.empty() ? -1 : 0));
    }
    networkPicker->setEnabled(form.networkPickerEnabled);
    scanButton->setEnabled(form.scanEnabled);
    passwordRow->setEnabled(form.passwordRowEnabled);
    password->setEchoMode(form.passwordVisible ? QLineEdit::Normal : QLineEdit::Password);
    if (password->text().toStdString() != form.password) {
        password->setText(text(form.password));
    }
    visibilityButton->setIcon(symbolIcon(QString::fromStdString(form.visibilitySymbol)));
    visibilityButton->setAccessibleName(text(form.visibilityLabel));
    visibilityButton->setToolTip(text(form.visibilityHelp));
    saveWifi->setEnabled(form.saveEnabled);

    if (form.notifications == shownNotifications && notificationsLayout->count() > 0) {
        return;
    }
    shownNotifications = form.notifications;
    while (QLayoutItem* item = notificationsLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    using Style = UsbWifiNotification::Style;
    for (const UsbWifiNotification& note : form.notifications) {
        auto* line = new QWidget(notifications);
        auto* lineLayout = row(line, 6);
        lineLayout->addStretch();
        if (note.style == Style::progress) {
            lineLayout->addWidget(new BusyIndicator(BusyIndicator::Size::small, line));
        }
        if (note.style == Style::verified) {
            auto* icon = new QLabel(line);
            icon->setPixmap(checkmarkCircle(14, green, devicePixelRatioF()));
            lineLayout->addWidget(icon);
        }
        auto* words = label(line, QStringLiteral("usbWifiNotification"), text(note.text));
        words->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        scaleFont(words, 0.8);
        if (note.style == Style::verified) {
            setColour(words, green);
        } else if (note.style == Style::failed) {
            setColour(words, red);
        } else {
            dim(words);
        }
        lineLayout->addWidget(words);
        notificationsLayout->addWidget(line);
    }
}

UsbNewDeviceSection::UsbNewDeviceSection(std::unique_ptr<UsbSetupPresenter> model, QWidget* parent)
    : QWidget(parent)
    , setup(std::move(model))
{
    setObjectName(QStringLiteral("newBoardSection"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* orLabel = label(this, QStringLiteral("usbOrLabel"), QString::fromUtf8(UsbSetupPresenter::orText));
    orLabel->setAlignment(Qt::AlignCenter);
    scaleFont(orLabel, 0.85);
    dim(orLabel);
    layout->addWidget(orLabel);
    setUp = new QPushButton(QString::fromUtf8(UsbSetupPresenter::setUpNewDeviceText), this);
    setUp->setObjectName(QStringLiteral("setUpNewDeviceButton"));
    connect(setUp, &QPushButton::clicked, this, [this] { setup->setUpNewDevice(); });
    layout->addWidget(setUp, 0, Qt::AlignHCenter);
    const auto refresh = [this] { setUp->setEnabled(setup->setupNewDeviceEnabled()); };
    connect(setup.get(), &UsbSetupPresenter::changed, this, refresh);
    refresh();
}

UsbNewDeviceSection::~UsbNewDeviceSection() = default;

} // namespace tavrik
