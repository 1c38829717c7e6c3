#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "TavrikLink/Views/AppOptions.hpp"
#include "TavrikLink/Views/SoftwareUpdateConfiguration.hpp"
#include "TavrikPlatform/Support/QtScheduler.hpp"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tavrik-link"));
    QApplication::setApplicationVersion(tavrik::tavrikAppVersion());
    QGuiApplication::setDesktopFileName(QStringLiteral("tavrik-link"));

    const tavrik::AppCommandLine commandLine = tavrik::parseAppCommandLine(QApplication::arguments());
    if (!commandLine.options) {
        std::fputs(commandLine.message.toLocal8Bit().constData(), commandLine.exitStatus == 0 ? stdout : stderr);
        return commandLine.exitStatus;
    }

    if (tavrik::SoftwareUpdateConfiguration::hasRequiredConfiguration(
            tavrik::SoftwareUpdateConfiguration::buildSettings())) {
        // There is no update framework on Linux to hand the configuration to.
        qWarning("Software update settings were given at build time, but this platform has no updater");
    }

    tavrik::QtScheduler scheduler;
    tavrik::TavrikLinkApplication tavrikLink(
        *commandLine.options,
        { scheduler, tavrik::TavrikResources::forApplication(), [](int status) { QCoreApplication::exit(status); } });
    tavrikLink.show();
    return QApplication::exec();
}
