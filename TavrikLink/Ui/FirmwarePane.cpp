#include "TavrikLink/Ui/FirmwarePane.hpp"

#include "TavrikLink/Ui/FirmwareDetailView.hpp"

#include <QVBoxLayout>

namespace tavrik {

FirmwarePane::FirmwarePane(FirmwarePanePresenter& presenter, QWidget* parent)
    : QScrollArea(parent)
{
    setObjectName(QStringLiteral("firmwarePane"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 8, 24, 8);
    view = new FirmwareDetailView(content);
    view->bind(presenter);
    column->addWidget(view);
    setWidget(content);
}

} // namespace tavrik
