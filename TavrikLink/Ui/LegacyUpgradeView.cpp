#include "TavrikLink/Ui/LegacyUpgradeView.hpp"

#include "TavrikLink/Ui/PaneStyle.hpp"
#include "TavrikLink/Ui/SymbolIcon.hpp"
#include "TavrikLink/Views/LegacyUpgradeState.hpp"
#include "TavrikLink/Views/WindowPanes.hpp"
#include "TavrikLink/Views/WindowPresenters.hpp"

#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tavrik {

namespace {

QLabel* wrapped(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

LegacyUpgradeView::LegacyUpgradeView(DetailPaneContext paneContext, QWidget* parent)
    : QScrollArea(parent)
    , context(paneContext)
{
    setObjectName(QStringLiteral("legacyUpgradeView"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    // The wrapped texts fit any width the window allows; without this the vertical bar's arrival
    // brings a needless horizontal one.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* content = new QWidget(this);
    auto* outer = new QVBoxLayout(content);
    outer->setContentsMargins(32, 32, 32, 32);
    outer->setSpacing(20);

    auto* card = new QFrame(content);
    card->setObjectName(QStringLiteral("legacyUpgradeCard"));
    card->setMaximumWidth(760);
    card->setStyleSheet(
        QStringLiteral("#legacyUpgradeCard { background: rgba(255, 149, 0, 26); border-radius: 12px; }"));
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(16, 16, 16, 16);
    cardLayout->setSpacing(10);

    const QColor warningColor(0xe6, 0x7e, 0x00);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    auto* title = new QLabel(QString::fromUtf8(ConnectionOverlayPresenter::legacyTitle), card);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    title->setFont(titleFont);
    title->setStyleSheet(QStringLiteral("color: %1;").arg(warningColor.name()));
    title->setWordWrap(true);
    // The sign as tall as the title's capitals, level with its first line.
    const int signSize = QFontMetrics(titleFont).capHeight() + 6;
    auto* sign = new QLabel(card);
    sign->setObjectName(QStringLiteral("legacyWarningSign"));
    sign->setPixmap(
        symbolIcon(QStringLiteral("exclamationmark.triangle.fill"), warningColor, signSize).pixmap(signSize, signSize));
    sign->setFixedHeight(QFontMetrics(titleFont).height());
    titleRow->addWidget(sign, 0, Qt::AlignTop);
    titleRow->addWidget(title, 1);
    cardLayout->addLayout(titleRow);
    cardLayout->addWidget(wrapped(QString::fromUtf8(ConnectionOverlayPresenter::legacyExplanation), card));
    auto* instruction = wrapped(QString::fromUtf8(ConnectionOverlayPresenter::legacyInstruction), card);
    instruction->setForegroundRole(QPalette::PlaceholderText);
    cardLayout->addWidget(instruction);

    warningsBlock = new QWidget(card);
    warningsLayout = new QVBoxLayout(warningsBlock);
    warningsLayout->setContentsMargins(0, 0, 0, 0);
    cardLayout->addWidget(warningsBlock);

    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    saveBackup = new QPushButton(QString::fromUtf8(ConnectionOverlayPresenter::saveMigrationBackupText), card);
    saveBackup->setObjectName(QStringLiteral("saveMigrationBackupButton"));
    saveBackup->setDefault(true);
    connect(saveBackup, &QPushButton::clicked, this, [this] { context.window.saveMigrationBackup(); });
    row->addWidget(saveBackup);
    backupMark = new QLabel(card);
    backupMark->setObjectName(QStringLiteral("migrationBackupMark"));
    backupMark->setPixmap(symbolIcon(QStringLiteral("checkmark.circle.fill"), paneStyle::successColor()).pixmap(16, 16));
    row->addWidget(backupMark);
    backupStatus = new QLabel(card);
    backupStatus->setObjectName(QStringLiteral("migrationBackupStatus"));
    row->addWidget(backupStatus);
    row->addStretch();
    cardLayout->addLayout(row);
    outer->addWidget(card);

    DetailPaneContext inner = context;
    inner.parent = content;
    QWidget* firmware = DetailPaneFactory::legacyFirmwareSection(inner);
    firmware->setMaximumWidth(760);
    outer->addWidget(firmware);
    outer->addStretch();
    setWidget(content);

    connect(&context.window, &ContentViewPresenter::changed, this, &LegacyUpgradeView::refresh);
    connect(&context.presenters.panes().legacy(), &LegacyUpgradeState::changed, this, &LegacyUpgradeView::refresh);
    refresh();
}

void LegacyUpgradeView::refresh()
{
    std::optional<std::string> backup;
    if (context.presenters.panes().legacy().migrationBackupPath()) {
        backup = context.presenters.panes().legacy().migrationBackupPath()->toStdString();
    }
    const auto next = ConnectionOverlayPresenter::legacyUpgradeCard(context.window.controller(), backup);
    if (built && next == shown) {
        return;
    }
    built = true;
    shown = next;
    while (QLayoutItem* item = warningsLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    warningsBlock->setVisible(!shown.warnings.empty());
    if (!shown.warnings.empty()) {
        auto* divider = new QFrame(warningsBlock);
        divider->setFrameShape(QFrame::HLine);
        warningsLayout->addWidget(divider);
        auto* headingRow = new QHBoxLayout;
        headingRow->setSpacing(6);
        auto* sign = new QLabel(warningsBlock);
        sign->setObjectName(QStringLiteral("migrationWarningsSign"));
        sign->setPixmap(symbolIcon(QStringLiteral("wrench.and.screwdriver.fill")).pixmap(16, 16));
        headingRow->addWidget(sign);
        auto* heading = new QLabel(QString::fromUtf8(ConnectionOverlayPresenter::legacyWarningsTitle), warningsBlock);
        paneStyle::makeHeadline(heading);
        headingRow->addWidget(heading, 1);
        warningsLayout->addLayout(headingRow);
        for (const std::string& warning : shown.warnings) {
            auto* line = wrapped(QString::fromStdString(warning), warningsBlock);
            line->setForegroundRole(QPalette::PlaceholderText);
            warningsLayout->addWidget(line);
        }
    }
    backupMark->setVisible(shown.savedBackupName.has_value());
    if (shown.savedBackupName) {
        backupStatus->setText(QString::fromStdString(*shown.savedBackupName));
        backupStatus->setForegroundRole(QPalette::WindowText);
        paneStyle::setTextColor(backupStatus, paneStyle::successColor());
    } else {
        backupStatus->setText(QString::fromUtf8(ConnectionOverlayPresenter::backupRequiredText));
        backupStatus->setPalette(QPalette());
        backupStatus->setForegroundRole(QPalette::PlaceholderText);
    }
}

} // namespace tavrik
