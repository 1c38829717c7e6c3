#include "TavrikLink/Support/AppOptions.hpp"

#include "TavrikLink/Support/AppVersion.hpp"

#include <QCommandLineParser>

namespace tavrik {

namespace {

// What shells and scripts expect of a command line the program cannot use.
constexpr int usageErrorStatus = 2;

} // namespace

AppCommandLine parseAppCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Tavrik Link"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption demo(QStringLiteral("demo"), QStringLiteral("Start with sample data instead of a device."));
    parser.addOption(demo);
    // Qt's own options (-platform, -style, ...) are read by the application object after this, so
    // they are let through here rather than refused.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const char* name :
        { "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon", "qwindowtitle",
            "session", "display", "geometry", "title", "style", "stylesheet", "qmljsdebugger" }) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : { "reverse", "widgetcount", "nograb", "dograb", "sync" }) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    if (!parser.parse(arguments)) {
        return { std::nullopt, parser.errorText() + QStringLiteral("\n\n") + parser.helpText(), usageErrorStatus };
    }
    if (parser.isSet(help)) {
        return { std::nullopt, parser.helpText(), 0 };
    }
    if (parser.isSet(version)) {
        return { std::nullopt,
            QStringLiteral("Tavrik Link ") + QString::fromStdString(tavrikAppVersion()) + QStringLiteral("\n"), 0 };
    }
    if (!parser.positionalArguments().isEmpty()) {
        return { std::nullopt,
            QStringLiteral("Unexpected argument '%1'.\n\n").arg(parser.positionalArguments().first()) + parser.helpText(),
            usageErrorStatus };
    }
    AppOptions options;
    options.demo = parser.isSet(demo);
    return { options, QString(), 0 };
}

} // namespace tavrik
