#include "TavrikCore/Support/Clock.hpp"
#include "TavrikCore/Support/RandomSource.hpp"
#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Support/AppOptions.hpp"
#include "TavrikLink/Support/AppVersion.hpp"
#include "TavrikLink/Support/SettingsKeyValueStore.hpp"
#include "TavrikLink/Support/SoftwareUpdateConfiguration.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "TavrikPlatform/Bluetooth/QtBleCentral.hpp"
#include "TavrikPlatform/Support/QtScheduler.hpp"

#include <QApplication>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <optional>

int main(int argc, char** argv)
{
    // The arguments are read before the application exists: --help, --version and a mistyped
    // option answer over SSH or in a script, where no display could be opened.
    QStringList arguments;
    for (int index = 0; index < argc; ++index) {
        arguments << QString::fromLocal8Bit(argv[index]);
    }
    const tavrik::AppCommandLine commandLine = tavrik::parseAppCommandLine(arguments);
    if (!commandLine.options) {
        std::fputs(commandLine.message.toLocal8Bit().constData(), commandLine.exitStatus == 0 ? stdout : stderr);
        return commandLine.exitStatus;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tavrik-link"));
    // Dialogs and alerts without a title of their own carry the program's name.
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Tavrik Link"));
    QApplication::setApplicationVersion(QString::fromStdString(tavrik::tavrikAppVersion()));
    QGuiApplication::setDesktopFileName(QStringLiteral("tavrik-link"));

    if (tavrik::SoftwareUpdateConfiguration::hasRequiredConfiguration(
            tavrik::SoftwareUpdateConfiguration::buildSettings())) {
        // There is no update framework on Linux to hand the configuration to.
        qWarning("Software update settings were given at build time, but this platform has no updater");
    }

    tavrik::QtScheduler scheduler;
    // The adapter's own lines go to the controller's log once the controller exists.
    tavrik::TavrikBleCentral* logTarget = nullptr;
    tavrik::QtBleCentral central(scheduler, [&logTarget](const std::string& line) {
        if (logTarget) {
            logTarget->appendLog(line, true);
        }
    });
    tavrik::SystemRandomSource random;
    tavrik::SettingsKeyValueStore defaults;
    tavrik::TavrikBleCentral controller({ central, scheduler, tavrik::systemClock(), random, defaults,
        tavrik::LocalLinkTransport::defaultDirectory(), true, {} });
    logTarget = &controller;
    // The log and the status also go to standard error, so a session log or a terminal shows what
    // the program did when no window is looked at.
    std::optional<tavrik::Uuid> lastPrinted;
    QObject::connect(&controller, &tavrik::TavrikBleCentral::logChanged, [&controller, &lastPrinted] {
        const auto& items = controller.logItems();
        auto next = items.begin();
        if (lastPrinted) {
            const auto printed = std::find_if(items.rbegin(), items.rend(),
                [&](const tavrik::TavrikLogEntry& item) { return item.id == *lastPrinted; });
            next = printed == items.rend() ? items.begin() : printed.base();
        }
        for (; next != items.end(); ++next) {
            qInfo("%s", next->text.c_str());
            lastPrinted = next->id;
        }
    });
    QObject::connect(&controller, &tavrik::TavrikBleCentral::statusTextChanged,
        [&controller] { qInfo("Status: %s", controller.statusText().c_str()); });
    if (commandLine.options->demo) {
        // Demo mode is on before the window first appears, so its first appearance loads nothing.
        controller.beginReviewDemo();
    }

    tavrik::TavrikLinkApplication tavrikLink(*commandLine.options,
        { scheduler, tavrik::TavrikResources::forApplication(), [](int status) { QCoreApplication::exit(status); },
            true, &controller, &tavrik::systemClock() });
    tavrikLink.show();
    return QApplication::exec();
}
