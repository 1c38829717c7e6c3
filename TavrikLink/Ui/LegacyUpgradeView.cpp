#include "TavrikLink/Ui/LegacyUpgradeView.hpp"

#include "TavrikLink/Views/LegacyUpgradeState.hpp"
#include "TavrikLink/Views/WindowPanes.hpp"

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

    auto* title
        = new QLabel(QStringLiteral("\u26A0 ") + QString::fromUtf8(ConnectionOverlayPresenter::legacyTitle), card);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    titleFont.setBold(true);
    title->setFont(titleFont);
    title->setStyleSheet(QStringLiteral("color: #e67e00;"));
    cardLayout->addWidget(title);
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
    if (context.panes) {
        connect(&context.panes->legacy(), &LegacyUpgradeState::changed, this, &LegacyUpgradeView::refresh);
    }
    refresh();
}

void LegacyUpgradeView::refresh()
{
    std::optional<std::string> backup;
    if (context.panes && context.panes->legacy().migrationBackupPath()) {
        backup = context.panes->legacy().migrationBackupPath()->toStdString();
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
        auto* heading = new QLabel(
            QStringLiteral("\U0001F527 ") + QString::fromUtf8(ConnectionOverlayPresenter::legacyWarningsTitle),
            warningsBlock);
        QFont bold = heading->font();
        bold.setBold(true);
        heading->setFont(bold);
        warningsLayout->addWidget(heading);
        for (const std::string& warning : shown.warnings) {
            auto* line = wrapped(QString::fromStdString(warning), warningsBlock);
            line->setForegroundRole(QPalette::PlaceholderText);
            warningsLayout->addWidget(line);
        }
    }
    if (shown.savedBackupName) {
        backupStatus->setText(QStringLiteral("\u2714 ") + QString::fromStdString(*shown.savedBackupName));
        backupStatus->setStyleSheet(QStringLiteral("color: #1a8f1a;"));
    } else {
        backupStatus->setText(QString::fromUtf8(ConnectionOverlayPresenter::backupRequiredText));
        backupStatus->setStyleSheet(QString());
        backupStatus->setForegroundRole(QPalette::PlaceholderText);
    }
}

} // namespace tavrik
