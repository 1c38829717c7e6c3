// The floor the program's start-up is measured against: a Qt Widgets main window of the same size,
// with a menu bar, built with the same compiler, flags and Qt as the program.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.resize(900, 648);
    window.menuBar()->addMenu(QStringLiteral("&File"))->addAction(QStringLiteral("Quit"));
    window.setCentralWidget(new QLabel(QStringLiteral("Bare window")));
    window.show();
    return QApplication::exec();
}
