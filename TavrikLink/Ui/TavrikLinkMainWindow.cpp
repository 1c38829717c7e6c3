#include "TavrikLink/Ui/TavrikLinkMainWindow.hpp"

#include "TavrikLink/Views/TavrikViewCommands.hpp"

#include <QAction>
#include <QCloseEvent>
#include <QMenuBar>
#include <QVBoxLayout>

namespace tavrik {

TavrikLinkMainWindow::TavrikLinkMainWindow(TavrikViewCommands& viewCommands, QWidget* parent)
    : QMainWindow(parent)
    , viewCommands(viewCommands)
{
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Tavrik Link"));
    resize(defaultWidth, defaultHeight);

    auto* host = new QWidget(this);
    host->setObjectName(QStringLiteral("rootViewHost"));
    rootLayout = new QVBoxLayout(host);
    rootLayout->setContentsMargins(0, 0, 0, 0);
    rootLayout->setSpacing(0);
    setCentralWidget(host);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("fileMenu"));
    importData = file->addAction(QStringLiteral("Import Data..."), this, &TavrikLinkMainWindow::importDataCommand);
    importData->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I));
    exportData = file->addAction(QStringLiteral("Export Data..."), this, &TavrikLinkMainWindow::exportDataCommand);
    exportData->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    file->addSeparator();
    quit = file->addAction(QStringLiteral("Quit"), this, &TavrikLinkMainWindow::quitRequested);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);

    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("viewMenu"));
    logDrawer = view->addAction(QString(), &viewCommands, &TavrikViewCommands::triggerLogDrawerItem);
    logDrawer->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
    connect(&viewCommands, &TavrikViewCommands::changed, this, &TavrikLinkMainWindow::refreshLogDrawerAction);
    refreshLogDrawerAction();
}

TavrikLinkMainWindow::~TavrikLinkMainWindow()
{
    // The content says goodbye to the menus as it goes (it withdraws its drawer toggle); it must go
    // while this window is still whole, not later among the base class's children.
    delete rootView;
    rootView = nullptr;
}

void TavrikLinkMainWindow::setRootView(QWidget* view)
{
    if (rootView) {
        rootLayout->removeWidget(rootView);
        rootView->deleteLater();
    }
    rootView = view;
    if (view) {
        rootLayout->addWidget(view);
    }
}

void TavrikLinkMainWindow::closeEvent(QCloseEvent* event)
{
    // The window stays until the device session has been shut down; the quit closes everything.
    event->ignore();
    emit quitRequested();
}

void TavrikLinkMainWindow::refreshLogDrawerAction()
{
    logDrawer->setText(viewCommands.logDrawerItemText());
    logDrawer->setEnabled(viewCommands.logDrawerItemEnabled());
}

} // namespace tavrik
