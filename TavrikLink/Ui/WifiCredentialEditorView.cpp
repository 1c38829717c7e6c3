#include "TavrikLink/Ui/WifiCredentialEditorView.hpp"

#include "TavrikLink/Ui/SymbolIcon.hpp"
#include "TavrikLink/Views/WifiSettingsPresenter.hpp"

#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QToolButton>
#include <QVBoxLayout>

namespace tavrik {

namespace {

QToolButton* scanButton(QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("scanAgain"));
    button->setIcon(symbolIcon(QStringLiteral("arrow.clockwise")));
    button->setToolTip(QStringLiteral("Scan again"));
    return button;
}

QWidget* row(QWidget* parent, QHBoxLayout*& layout)
{
    auto* widget = new QWidget(parent);
    layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    return widget;
}

void setText(QLineEdit* field, const std::string& text)
{
    const QString value = QString::fromStdString(text);
    if (field->text() != value) {
        field->setText(value);
    }
}

} // namespace

WifiCredentialEditorView::WifiCredentialEditorView(WifiSettingsPresenter* model, QWidget* parent)
    : QWidget(parent)
    , wifi(model)
{
    wifi->setParent(this);
    build();
}

void WifiCredentialEditorView::build()
{
    setObjectName(QStringLiteral("wifiCredentialEditor"));
    setMinimumWidth(382);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);

    title = new QLabel(this);
    title->setObjectName(QStringLiteral("wifiEditorTitle"));
    QFont font = title->font();
    font.setPointSizeF(font.pointSizeF() * 1.4);
    font.setBold(true);
    title->setFont(font);
    layout->addWidget(title);

    // One of three rows, each its own height (a stacked widget would give all the tallest one's).
    choice = new QWidget(this);
    auto* choiceLayout = new QVBoxLayout(choice);
    choiceLayout->setContentsMargins(0, 0, 0, 0);
    fixedName = new QLineEdit(choice);
    fixedName->setObjectName(QStringLiteral("fixedNetworkName"));
    fixedName->setPlaceholderText(QStringLiteral("Network name"));
    fixedName->setEnabled(false);
    choiceLayout->addWidget(fixedName);

    pickerPage = new QWidget(choice);
    auto* pickerLayout = new QVBoxLayout(pickerPage);
    pickerLayout->setContentsMargins(0, 0, 0, 0);
    QHBoxLayout* pickerRowLayout = nullptr;
    QWidget* pickerRow = row(pickerPage, pickerRowLayout);
    auto* pickerLabel = new QLabel(QStringLiteral("Network"), pickerRow);
    pickerRowLayout->addWidget(pickerLabel);
    picker = new QComboBox(pickerRow);
    picker->setObjectName(QStringLiteral("networkPicker"));
    pickerLabel->setBuddy(picker);
    pickerRowLayout->addWidget(picker, 1);
    pickerScan = scanButton(pickerRow);
    pickerRowLayout->addWidget(pickerScan);
    pickerLayout->addWidget(pickerRow);
    other = new QPushButton(QStringLiteral("Other Network\u2026"), pickerPage);
    other->setObjectName(QStringLiteral("otherNetwork"));
    other->setFlat(true);
    other->setCursor(Qt::PointingHandCursor);
    other->setStyleSheet(
        QStringLiteral("QPushButton { color: palette(link); text-align: left; border: none; padding: 0; }"));
    pickerLayout->addWidget(other, 0, Qt::AlignLeft);
    choiceLayout->addWidget(pickerPage);

    QHBoxLayout* typedLayout = nullptr;
    typedPage = row(choice, typedLayout);
    typedName = new QLineEdit(typedPage);
    typedName->setObjectName(QStringLiteral("networkNameField"));
    typedName->setPlaceholderText(QStringLiteral("Network name"));
    typedLayout->addWidget(typedName, 1);
    typedScan = scanButton(typedPage);
    typedLayout->addWidget(typedScan);
    choiceLayout->addWidget(typedPage);
    layout->addWidget(choice);

    QHBoxLayout* passwordLayout = nullptr;
    passwordRow = row(this, passwordLayout);
    password = new QLineEdit(passwordRow);
    password->setObjectName(QStringLiteral("wifiPasswordField"));
    password->setPlaceholderText(QStringLiteral("Wi-Fi password"));
    passwordLayout->addWidget(password, 1);
    reveal = new QToolButton(passwordRow);
    reveal->setObjectName(QStringLiteral("revealPassword"));
    reveal->setAutoRaise(true);
    passwordLayout->addWidget(reveal);
    layout->addWidget(passwordRow);

    QHBoxLayout* activityLayout = nullptr;
    activityRow = row(this, activityLayout);
    activityLayout->setSpacing(6);
    activitySpinner = new QProgressBar(activityRow);
    auto* spinner = activitySpinner;
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(48, 8);
    activityLayout->addWidget(spinner);
    activity = new QLabel(activityRow);
    activity->setObjectName(QStringLiteral("wifiEditorActivity"));
    QFont caption = activity->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    activity->setFont(caption);
    activity->setForegroundRole(QPalette::PlaceholderText);
    activityLayout->addWidget(activity, 1);
    layout->addWidget(activityRow);

    failureBlock = new QWidget(this);
    auto* failureLayout = new QVBoxLayout(failureBlock);
    failureLayout->setContentsMargins(0, 0, 0, 0);
    failure = new QLabel(failureBlock);
    failure->setObjectName(QStringLiteral("wifiValidationFailure"));
    failure->setFont(caption);
    failure->setStyleSheet(QStringLiteral("color: #d70015;"));
    failure->setWordWrap(true);
    failureLayout->addWidget(failure);
    auto* failureButtons = new QHBoxLayout;
    tryAgain = new QPushButton(QStringLiteral("Try Again"), failureBlock);
    saveAnyway = new QPushButton(QStringLiteral("Save Anyway"), failureBlock);
    saveAnyway->setObjectName(QStringLiteral("saveAnyway"));
    failureCancel = new QPushButton(QStringLiteral("Cancel"), failureBlock);
    failureButtons->addWidget(tryAgain);
    failureButtons->addWidget(saveAnyway);
    failureButtons->addWidget(failureCancel);
    failureButtons->addStretch();
    failureLayout->addLayout(failureButtons);
    layout->addWidget(failureBlock);

    QHBoxLayout* normalLayout = nullptr;
    normalRow = row(this, normalLayout);
    normalLayout->addStretch();
    cancel = new QPushButton(QStringLiteral("Cancel"), normalRow);
    cancel->setObjectName(QStringLiteral("wifiEditorCancel"));
    normalLayout->addWidget(cancel);
    save = new QPushButton(QStringLiteral("Save"), normalRow);
    save->setObjectName(QStringLiteral("wifiEditorSave"));
    save->setDefault(true);
    normalLayout->addWidget(save);
    layout->addWidget(normalRow);
    // Extra height goes below the content, never between its rows.
    layout->addStretch();

    connect(picker, &QComboBox::activated, this, [this](int index) {
        if (!redrawing) {
            wifi->chooseNetwork(picker->itemData(index).toString().toStdString());
        }
    });
    connect(pickerScan, &QToolButton::clicked, this, [this] { wifi->scanAgain(); });
    connect(typedScan, &QToolButton::clicked, this, [this] { wifi->scanAgain(); });
    connect(other, &QPushButton::clicked, this, [this] { wifi->chooseOtherNetwork(); });
    connect(typedName, &QLineEdit::textEdited, this,
        [this](const QString& text) { wifi->typeNetworkName(text.toStdString()); });
    connect(password, &QLineEdit::textEdited, this,
        [this](const QString& text) { wifi->typePassword(text.toStdString()); });
    connect(reveal, &QToolButton::clicked, this, [this] { wifi->togglePasswordVisible(); });
    connect(save, &QPushButton::clicked, this, [this] { wifi->save(); });
    connect(cancel, &QPushButton::clicked, this, [this] { wifi->cancel(); });
    connect(tryAgain, &QPushButton::clicked, this, [this] { wifi->tryAgain(); });
    connect(saveAnyway, &QPushButton::clicked, this, [this] { wifi->saveAnyway(); });
    connect(failureCancel, &QPushButton::clicked, this, [this] { wifi->cancel(); });
    connect(wifi, &WifiSettingsPresenter::changed, this, &WifiCredentialEditorView::redraw);
    redraw();
}

void WifiCredentialEditorView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Escape and the window's close button dismiss the sheet as Cancel does. A sheet closed by the
    // program (after a save) is no longer wanted by then, and nothing is reset.
    auto* sheet = qobject_cast<QDialog*>(window());
    if (sheet && sheet != hostSheet) {
        hostSheet = sheet;
        connect(sheet, &QDialog::rejected, this, [this] {
            if (wifi->state().showingWifiCredentialEditor) {
                wifi->cancel();
            }
        });
    }
}

void WifiCredentialEditorView::redraw()
{
    redrawing = true;
    const auto inputs = wifi->inputs();
    const auto& state = wifi->state();
    const bool saving = wifi->isSaving();
    title->setText(QString::fromStdString(wifi->sheetTitle()));
    using Choice = WifiSettingsPresenter::NetworkChoice;
    const Choice shownChoice = wifi->networkChoice();
    fixedName->setVisible(shownChoice == Choice::editing);
    pickerPage->setVisible(shownChoice == Choice::picker);
    typedPage->setVisible(shownChoice == Choice::typedName);
    choice->setEnabled(!saving);
    setText(fixedName, state.wifiDraftSsid);
    setText(typedName, state.wifiDraftSsid);

    picker->clear();
    auto* items = qobject_cast<QStandardItemModel*>(picker->model());
    const QColor ink = palette().color(QPalette::WindowText);
    int chosen = -1;
    for (const auto& network : inputs.nearbyWifiNetworks) {
        const QString symbol
            = WifiSettingsPresenter::isOpen(network) ? QStringLiteral("wifi") : QStringLiteral("lock.wifi");
        picker->addItem(
            symbolIcon(symbol, ink), QString::fromStdString(network.ssid), QString::fromStdString(network.ssid));
        if (items && network.supported == 0) {
            items->item(picker->count() - 1)->setEnabled(false);
        }
        if (network.ssid == state.wifiDraftSsid) {
            chosen = picker->count() - 1;
        }
    }
    picker->setCurrentIndex(chosen);
    pickerScan->setEnabled(wifi->canScanAgain());
    typedScan->setEnabled(wifi->canScanAgain());

    passwordRow->setEnabled(!saving);
    setText(password, state.wifiDraftPassword);
    password->setEchoMode(state.wifiDraftPasswordVisible ? QLineEdit::Normal : QLineEdit::Password);
    reveal->setIcon(symbolIcon(state.wifiDraftPasswordVisible ? QStringLiteral("eye.slash") : QStringLiteral("eye")));
    reveal->setToolTip(
        state.wifiDraftPasswordVisible ? QStringLiteral("Hide password") : QStringLiteral("Show password"));

    const auto activityText = wifi->activityText();
    activityRow->setVisible(activityText.has_value());
    activitySpinner->setVisible(wifi->activityShowsProgress());
    activity->setText(QString::fromStdString(activityText.value_or(std::string())));

    const auto shown = wifi->shownFailure();
    failureBlock->setVisible(shown.has_value());
    normalRow->setVisible(!shown.has_value());
    failure->setText(shown ? QString::fromStdString(shown->message) : QString());
    cancel->setEnabled(!saving);
    save->setEnabled(wifi->canSave());
    redrawing = false;
}

} // namespace tavrik
