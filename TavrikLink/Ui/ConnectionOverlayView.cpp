#include "TavrikLink/Ui/ConnectionOverlayView.hpp"

#include "TavrikLink/Ui/PaneStyle.hpp"
#include "TavrikLink/Ui/SymbolIcon.hpp"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace tavrik {

ConnectionOverlayView::ConnectionOverlayView(DetailPaneContext paneContext, QWidget* parent)
    : QWidget(parent)
    , context(paneContext)
{
    setObjectName(QStringLiteral("loadOverlay"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(32, 32, 32, 32);
    auto* column = new QWidget(this);
    column->setFixedWidth(360);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    outer->addStretch();
    outer->addWidget(column, 0, Qt::AlignHCenter);
    outer->addStretch();

    backRow = new QWidget(column);
    auto* backLayout = new QHBoxLayout(backRow);
    backLayout->setContentsMargins(0, 0, 0, 0);
    back = new QToolButton(backRow);
    back->setObjectName(QStringLiteral("usbSetupBackButton"));
    back->setAutoRaise(true);
    back->setIcon(symbolIcon(QStringLiteral("chevron.left")));
    back->setToolTip(QStringLiteral("Back"));
    connect(back, &QToolButton::clicked, this, [this] {
        context.window.modify([](ContentViewPresenter::State& state) { state.showingUsbSetupFlow = false; });
    });
    backLayout->addWidget(back);
    backLayout->addStretch();
    layout->addWidget(backRow);

    // The USB setup flow is built the first time it is shown (see refresh): most starts only wait
    // for a device, and its board pictures are read from disk when it is built.
    columnLayout = layout;

    statusBlock = new QWidget(column);
    auto* statusLayout = new QVBoxLayout(statusBlock);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(8);
    status = new QLabel(statusBlock);
    status->setObjectName(QStringLiteral("overlayStatus"));
    status->setAlignment(Qt::AlignCenter);
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const auto wrapped = [this](QWidget* parent, const QString& name) {
        auto* label = new QLabel(parent);
        label->setObjectName(name);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return label;
    };
    bluetoothProblem = wrapped(statusBlock, QStringLiteral("bluetoothProblem"));
    paneStyle::makeHeadline(bluetoothProblem);
    statusLayout->addWidget(bluetoothProblem);
    bluetoothAdvice = wrapped(statusBlock, QStringLiteral("bluetoothAdvice"));
    paneStyle::makeSecondary(bluetoothAdvice);
    statusLayout->addWidget(bluetoothAdvice);
    // Why nothing connects comes first; the stage's own line follows.
    statusLayout->addWidget(status);
    tryAgain = new QPushButton(QString::fromUtf8(ConnectionOverlayPresenter::tryAgainText), statusBlock);
    tryAgain->setObjectName(QStringLiteral("tryAgainButton"));
    tryAgain->setDefault(true);
    connect(tryAgain, &QPushButton::clicked, this, [this] { context.window.tryAgain(); });
    statusLayout->addWidget(tryAgain, 0, Qt::AlignHCenter);
    newBoard = new QWidget(statusBlock);
    auto* newBoardLayout = new QVBoxLayout(newBoard);
    newBoardLayout->setContentsMargins(0, 8, 0, 0);
    auto* divider = new QFrame(newBoard);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    newBoardLayout->addWidget(divider);
    DetailPaneContext inner = context;
    inner.parent = newBoard;
    newBoardLayout->addWidget(DetailPaneFactory::newBoardSection(inner));
    statusLayout->addWidget(newBoard);
    layout->addWidget(statusBlock);

    connect(&context.window, &ContentViewPresenter::changed, this, &ConnectionOverlayView::refresh);
    refresh();
}

void ConnectionOverlayView::refresh()
{
    const auto next
        = ConnectionOverlayPresenter::overlay(context.window.controller(), context.window.state().showingUsbSetupFlow);
    if (built && next == shown) {
        return;
    }
    built = true;
    shown = next;
    backRow->setVisible(shown.showsBackRow);
    if (shown.showsUsbSetup && !usbSetup) {
        DetailPaneContext inner = context;
        inner.parent = columnLayout->parentWidget();
        usbSetup = DetailPaneFactory::usbSetupContent(inner);
        columnLayout->insertWidget(columnLayout->indexOf(statusBlock), usbSetup);
    }
    if (usbSetup) {
        usbSetup->setVisible(shown.showsUsbSetup);
    }
    statusBlock->setVisible(!shown.showsUsbSetup);
    status->setText(QString::fromStdString(shown.statusText));
    status->setVisible(!shown.statusText.empty());
    // A wrapped label inside a centred column is not given its wrapped height by the layout.
    status->setMinimumHeight(status->heightForWidth(status->parentWidget()->parentWidget()->width()));
    QPalette palette = status->palette();
    palette.setColor(QPalette::WindowText,
        shown.statusIsFailure ? QColor(Qt::red) : this->palette().color(QPalette::PlaceholderText));
    status->setPalette(palette);
    bluetoothProblem->setVisible(shown.bluetoothProblem.has_value());
    bluetoothProblem->setText(QString::fromStdString(shown.bluetoothProblem.value_or(std::string())));
    bluetoothAdvice->setVisible(shown.bluetoothProblem.has_value());
    bluetoothAdvice->setText(QString::fromStdString(shown.bluetoothAdvice));
    const int columnWidth = status->parentWidget()->parentWidget()->width();
    for (QLabel* label : { bluetoothProblem, bluetoothAdvice }) {
        label->setMinimumHeight(label->isVisible() ? label->heightForWidth(columnWidth) : 0);
    }
    tryAgain->setVisible(shown.showsTryAgain);
    newBoard->setVisible(shown.showsNewBoardSection);
}

} // namespace tavrik
