#include "TavrikLink/Ui/FirmwareDetailView.hpp"

#include "TavrikLink/Ui/PaneStyle.hpp"
#include "TavrikLink/Views/FirmwarePanePresenter.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSizePolicy>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

namespace tavrik {
namespace {

constexpr int progressSteps = 1000;

QFrame* makeBox(QWidget* parent)
{
    auto* box = new QFrame(parent);
    box->setObjectName(QStringLiteral("firmwareBox"));
    // A rounded panel in the colour text fields use.
    box->setStyleSheet(QStringLiteral("QFrame#firmwareBox { background-color: palette(base); border-radius: 12px; }"));
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(10);
    return box;
}

void clearLayout(QLayout* layout)
{
    while (QLayoutItem* item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

} // namespace

FirmwareDetailView::FirmwareDetailView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("firmwareDetailView"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);

    auto* title = new QLabel(FirmwareDetailPresenter::title(), this);
    paneStyle::makeTitle(title, 1.3);
    column->addWidget(title);
    auto* summary = new QLabel(FirmwareDetailPresenter::summary(), this);
    summary->setWordWrap(true);
    paneStyle::makeSecondary(summary);
    column->addWidget(summary);

    sourceBox = makeBox(this);
    column->addWidget(sourceBox);
    assetBox = makeBox(this);
    column->addWidget(assetBox);
    missingAsset = new QLabel(this);
    missingAsset->setWordWrap(true);
    missingAsset->setTextFormat(Qt::PlainText);
    column->addWidget(missingAsset);

    auto* status = new QVBoxLayout;
    status->setSpacing(8);
    progress = new QProgressBar(this);
    progress->setRange(0, progressSteps);
    progress->setTextVisible(false);
    // Hidden without a total, and then it takes no room: the status line sits right under the boxes.
    status->addWidget(progress);
    auto* statusRow = new QHBoxLayout;
    statusMessage = new QLabel(this);
    statusMessage->setWordWrap(true);
    statusMessage->setTextFormat(Qt::PlainText);
    statusMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusRow->addWidget(statusMessage, 1);
    byteCounts = new QLabel(this);
    paneStyle::makeSecondary(byteCounts);
    statusRow->addWidget(byteCounts, 0, Qt::AlignTop);
    status->addLayout(statusRow);
    column->addLayout(status);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    refresh = new QPushButton(FirmwareDetailPresenter::refreshTitle(), this);
    connect(refresh, &QPushButton::clicked, this, [this] {
        if (actions.onRefresh) {
            actions.onRefresh();
        }
    });
    install = new QPushButton(this);
    install->setDefault(true);
    connect(install, &QPushButton::clicked, this, [this] {
        if (actions.onInstall) {
            actions.onInstall();
        }
    });
    cancel = new QPushButton(FirmwareDetailPresenter::cancelTitle(), this);
    connect(cancel, &QPushButton::clicked, this, [this] {
        if (actions.onCancel) {
            actions.onCancel();
        }
    });
    buttons->addWidget(refresh);
    buttons->addWidget(install);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    column->addLayout(buttons);
    column->addStretch(1);

    setDetail(FirmwareDetailPresenter(FirmwareDetailValues {}));
}

void FirmwareDetailView::setDetail(const FirmwareDetailPresenter& detail)
{
    // Status updates arrive with every acknowledged chunk; the boxes are rebuilt only when their
    // rows change.
    const auto sourceRows = detail.sourceRows();
    if (shownSourceRows != sourceRows) {
        fillBox(sourceBox, sourceRows);
        shownSourceRows = sourceRows;
    }
    const auto assetRows = detail.assetRows();
    if (shownAssetRows != assetRows) {
        fillBox(assetBox, assetRows);
        shownAssetRows = assetRows;
    }
    assetBox->setVisible(detail.hasAsset());
    missingAsset->setVisible(!detail.hasAsset());
    missingAsset->setText(detail.missingAssetText());

    progress->setValue(static_cast<int>(std::lround(std::clamp(detail.progress(), 0.0, 1.0) * progressSteps)));
    progress->setVisible(detail.progressVisible());
    statusMessage->setText(detail.statusMessage());
    switch (detail.statusTone()) {
    case FirmwareDetailPresenter::StatusTone::success:
        paneStyle::setTextColor(statusMessage, paneStyle::successColor());
        break;
    case FirmwareDetailPresenter::StatusTone::failure:
        paneStyle::setTextColor(statusMessage, paneStyle::failureColor());
        break;
    case FirmwareDetailPresenter::StatusTone::normal:
        statusMessage->setPalette(palette());
        break;
    }
    const auto counts = detail.byteCountText();
    byteCounts->setVisible(counts.has_value());
    byteCounts->setText(counts.value_or(QString()));

    install->setVisible(detail.installVisible());
    install->setText(detail.installTitle());
    install->setEnabled(detail.installEnabled());
    cancel->setVisible(detail.cancelVisible());
}

void FirmwareDetailView::setActions(FirmwareDetailActions newActions)
{
    actions = std::move(newActions);
}

void FirmwareDetailView::bind(FirmwarePanePresenter& presenter)
{
    setActions(presenter.actions());
    connect(&presenter, &FirmwarePanePresenter::changed, this, [this, &presenter] { setDetail(presenter.detail()); });
    setDetail(presenter.detail());
}

void FirmwareDetailView::fillBox(QFrame* box, const std::vector<FirmwareDetailPresenter::Row>& rows)
{
    clearLayout(box->layout());
    for (const auto& row : rows) {
        auto* cell = new QWidget(box);
        auto* cellColumn = new QVBoxLayout(cell);
        cellColumn->setContentsMargins(0, 0, 0, 0);
        cellColumn->setSpacing(2);
        auto* label = new QLabel(row.label, cell);
        paneStyle::makeSecondary(label);
        paneStyle::makeCaption(label);
        auto* value = new QLabel(row.value, cell);
        value->setTextFormat(Qt::PlainText);
        value->setWordWrap(true);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        cellColumn->addWidget(label);
        cellColumn->addWidget(value);
        box->layout()->addWidget(cell);
    }
}

} // namespace tavrik
