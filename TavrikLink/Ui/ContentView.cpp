#include "TavrikLink/Ui/ContentView.hpp"

#include "TavrikLink/Ui/ConnectionOverlayView.hpp"
#include "TavrikLink/Ui/LegacyUpgradeView.hpp"
#include "TavrikLink/Ui/LogDrawerView.hpp"
#include "TavrikLink/Ui/SidebarView.hpp"
#include "TavrikLink/Ui/SymbolIcon.hpp"
#include "TavrikLink/Ui/UserActivityMonitor.hpp"
#include "TavrikLink/Ui/WindowAlertView.hpp"
#include "TavrikLink/Views/LogDrawerModel.hpp"
#include "TavrikLink/Views/TavrikViewCommands.hpp"
#include "TavrikLink/Views/WindowPanes.hpp"
#include "TavrikLink/Views/WindowPresenters.hpp"

#include <QAbstractButton>
#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace tavrik {

namespace {

QFrame* verticalDivider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setFixedHeight(18);
    return line;
}

QLabel* caption(QWidget* parent, const QString& name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    return label;
}

// The main content asks only for its minimum width, so that the log drawer beside it gets its width
// from the panes and the window keeps the size the user gave it.
class MainContentStack : public QStackedWidget {
public:
    using QStackedWidget::QStackedWidget;
    QSize sizeHint() const override { return { minimumSizeHint().width(), QStackedWidget::sizeHint().height() }; }
};

} // namespace

ContentView::ContentView(Environment env, QWidget* parent)
    : QWidget(parent)
    , environment(env)
    , window(&env.presenters.window())
    , log(&env.presenters.log())
{
    setObjectName(QStringLiteral("contentView"));
    ContentViewPresenter::Actions& actions = window->actions();
    activity = std::make_unique<UserActivityMonitor>([this] { window->recordUserInteraction(); });
    actions.startActivityMonitoring = [this] { activity->start(); };
    actions.stopActivityMonitoring = [this] { activity->stop(); };

    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    stack = new MainContentStack(this);
    // Each page is built the first time it is shown, once the window appears: a start that looks
    // for a device shows the load page first, a start with data the split view, and building a
    // page the first frame does not show costs a good part of that frame.
    outer->addWidget(stack, 1);
    drawer = new LogDrawerView(*window, *log, this);
    outer->addWidget(drawer);

    alerts = std::make_unique<WindowAlertView>(window->alerts(), this);

    // The View menu's item toggles this window's drawer.
    environment.viewCommands.publish([this] { window->toggleLogDrawer(); }, window->state().logDrawerExpanded);
    connect(window, &ContentViewPresenter::changed, this, &ContentView::refresh);
    refresh();
}

ContentView::~ContentView()
{
    if (window->hasAppeared()) {
        window->disappear();
    }
    environment.viewCommands.withdraw();
    // The alert view and the panes hold on to the presenter: they go first.
    alerts.reset();
    delete stack;
    stack = nullptr;
    delete drawer;
    drawer = nullptr;
    // The window's user-activity actions point into this view.
    window->actions().startActivityMonitoring = nullptr;
    window->actions().stopActivityMonitoring = nullptr;
}

WindowPanes& ContentView::panes()
{
    return environment.presenters.panes();
}

QWidget* ContentView::buildSplit()
{
    auto* split = new QSplitter(Qt::Horizontal, stack);
    split->setObjectName(QStringLiteral("navigationSplit"));
    split->setChildrenCollapsible(false);
    sidebarView = new SidebarView(*window, environment.clock, split);
    split->addWidget(sidebarView);
    // Delete on a routine's or tag's row does what that pane's Delete button does, asking first
    // where the button asks.
    connect(sidebarView, &SidebarView::deleteRequested, this, [this](const SidebarPresenter::Row& row) {
        SidebarPresenter::activate(*window, row);
        const bool routine = row.kind == SidebarPresenter::RowKind::routine;
        if (detail) {
            auto* button = detail->findChild<QAbstractButton*>(
                routine ? QStringLiteral("deleteRoutineButton") : QStringLiteral("deleteTagButton"));
            if (button && button->isEnabled()) {
                button->click();
            }
        }
    });

    auto* column = new QWidget(split);
    // The title-bar strip and its rule span the column from the sidebar's edge; only the detail pane
    // keeps 8 points from it.
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);

    titleBar = new QWidget(column);
    titleBar->setObjectName(QStringLiteral("titleBarStrip"));
    titleBar->setFixedHeight(52);
    auto* bar = new QHBoxLayout(titleBar);
    bar->setContentsMargins(8, 4, 8, 4);
    bar->setSpacing(12);
    bar->addStretch();
    auto* routine = new QWidget(titleBar);
    auto* routineLayout = new QVBoxLayout(routine);
    routineLayout->setContentsMargins(0, 0, 0, 0);
    routineLayout->setSpacing(0);
    routineName = new QLabel(routine);
    routineName->setObjectName(QStringLiteral("activeRoutineName"));
    QFont headline = routineName->font();
    headline.setBold(true);
    routineName->setFont(headline);
    routineLine = caption(routine, QStringLiteral("activeRoutineLine"));
    routineLayout->addWidget(routineName);
    routineLayout->addWidget(routineLine);
    bar->addWidget(routine);
    simulator = caption(titleBar, QStringLiteral("simulatorStatus"));
    bar->addWidget(simulator);
    firmwareDivider = verticalDivider(titleBar);
    bar->addWidget(firmwareDivider);
    firmware = caption(titleBar, QStringLiteral("deviceFirmwareStatus"));
    bar->addWidget(firmware);
    countdownDivider = verticalDivider(titleBar);
    bar->addWidget(countdownDivider);
    countdown = caption(titleBar, QStringLiteral("idleCountdownStatus"));
    bar->addWidget(countdown);
    bluetoothDivider = verticalDivider(titleBar);
    bar->addWidget(bluetoothDivider);
    bluetooth = caption(titleBar, QStringLiteral("bluetoothStatus"));
    bar->addWidget(bluetooth);
    bar->addStretch();
    disconnect = new QPushButton(QStringLiteral("Disconnect Tavrik"), titleBar);
    // The first look-up in the icon theme reads the theme's folders; the window shows without
    // waiting for it and the icon follows at once.
    QTimer::singleShot(0, disconnect, [button = disconnect] { button->setIcon(symbolIcon(QStringLiteral("eject"))); });
    disconnect->setObjectName(QStringLiteral("disconnectButton"));
    connect(disconnect, &QPushButton::clicked, this, [this] { window->eject(); });
    bar->addWidget(disconnect);
    columnLayout->addWidget(titleBar);
    auto* rule = new QFrame(column);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    columnLayout->addWidget(rule);

    auto* detailArea = new QWidget(column);
    detailHost = new QVBoxLayout(detailArea);
    detailHost->setContentsMargins(8, 8, 0, 8);
    columnLayout->addWidget(detailArea, 1);
    split->addWidget(column);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({ 220, 680 });
    return split;
}

QWidget* ContentView::mainContent() const
{
    return stack ? stack->currentWidget() : nullptr;
}

void ContentView::refresh()
{
    environment.presenters.panes().windowChanged();
    if (shownOnce) {
        showMainContent();
    }

    const auto content = window->detailContent();
    if (splitPage && content != shownDetail) {
        shownDetail = content;
        if (detail) {
            detailHost->removeWidget(detail);
            detail->deleteLater();
        }
        detail = DetailPaneFactory::detailPane(content, { environment.presenters, *window, detailHost->parentWidget() });
        detailHost->addWidget(detail);
        // Shown now, in the frame being laid out, rather than queued for a later one.
        detail->show();
    }

    const auto& state = window->state();
    drawer->setVisible(state.logDrawerExpanded);
    drawer->setPreferredWidth(static_cast<int>(state.logDrawerWidth));
    environment.viewCommands.setLogDrawerExpanded(state.logDrawerExpanded);
    refreshTitleBar();
    refreshSheets();
}

void ContentView::showMainContent()
{
    using Main = ContentViewPresenter::MainContent;
    const Main main = window->mainContent();
    QWidget*& page = main == Main::legacyUpgrade ? legacyPage : main == Main::loadOverlay ? overlayPage : splitPage;
    if (!page) {
        const DetailPaneContext context { environment.presenters, *window, stack };
        switch (main) {
        case Main::legacyUpgrade:
            page = new LegacyUpgradeView(context, stack);
            break;
        case Main::loadOverlay:
            page = new ConnectionOverlayView(context, stack);
            break;
        case Main::split:
            page = buildSplit();
            break;
        }
        stack->addWidget(page);
    }
    stack->setCurrentWidget(page);
}

void ContentView::refreshTitleBar()
{
    if (!titleBar) {
        return;
    }
    const auto status = window->titleBarStatus();
    routineName->setVisible(status.routineName.has_value());
    routineName->setText(QString::fromStdString(status.routineName.value_or(std::string())));
    routineLine->setText(QString::fromStdString(status.routineLine));
    simulator->setVisible(status.simulatorText.has_value());
    simulator->setText(QString::fromStdString(status.simulatorText.value_or(std::string())));
    firmwareDivider->setVisible(status.firmwareText.has_value());
    firmware->setVisible(status.firmwareText.has_value());
    firmware->setText(QString::fromStdString(status.firmwareText.value_or(std::string())));
    countdownDivider->setVisible(status.countdownText.has_value());
    countdown->setVisible(status.countdownText.has_value());
    countdown->setText(QString::fromStdString(status.countdownText.value_or(std::string())));
    bluetoothDivider->setVisible(status.bluetoothText.has_value());
    bluetooth->setVisible(status.bluetoothText.has_value());
    bluetooth->setText(QString::fromStdString(status.bluetoothText.value_or(std::string())));
    bluetooth->setToolTip(QString::fromStdString(status.bluetoothAdvice));
    disconnect->setEnabled(window->canEject());
}

void ContentView::refreshSheets()
{
    const auto& state = window->state();
    auto sync = [this](QDialog*& sheet, bool wanted, const char* name, int width,
                    QWidget* (*content)(const DetailPaneContext&), void (ContentViewPresenter::*closed)()) {
        if (wanted && !sheet) {
            sheet = new QDialog(this);
            sheet->setObjectName(QString::fromLatin1(name));
            sheet->setWindowModality(Qt::WindowModal);
            sheet->setMinimumWidth(width);
            auto* layout = new QVBoxLayout(sheet);
            layout->setContentsMargins(24, 24, 24, 24);
            layout->setSpacing(14);
            layout->addWidget(content({ environment.presenters, *window, sheet }));
            // Runs long after sync() returned: it holds copies and the member's address, nothing of
            // sync()'s own frame (its parameters included).
            connect(sheet, &QDialog::finished, this, [presenter = window, slot = &sheet, closed](int) {
                QDialog* finished = *slot;
                *slot = nullptr;
                finished->deleteLater();
                (presenter->*closed)();
            });
            sheet->open();
        } else if (!wanted && sheet) {
            QDialog* open = sheet;
            sheet = nullptr;
            open->disconnect(this);
            open->close();
            open->deleteLater();
        }
    };
    sync(tagSheet, state.showingTagSheet, "tagEditorSheet", 360, &DetailPaneFactory::tagEditorSheet,
        &ContentViewPresenter::tagSheetClosed);
    sync(wifiSheet, state.showingWifiCredentialEditor, "wifiCredentialEditorSheet", 430,
        &DetailPaneFactory::wifiCredentialEditorSheet, &ContentViewPresenter::wifiSheetClosed);
}

void ContentView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!shownOnce) {
        shownOnce = true;
        window->appear();
        // Appearing may have changed nothing the presenter reports; the first page is due either way.
        refresh();
    }
}

void ContentView::importDataCommand()
{
    window->importDataCommand();
}

void ContentView::exportDataCommand()
{
    window->exportDataCommand();
}

} // namespace tavrik
