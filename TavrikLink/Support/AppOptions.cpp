#include "TavrikLink/Support/AppOptions.hpp"

#include "TavrikLink/Support/AppVersion.hpp"

#include <QCommandLineParser>

namespace tavrik {

AppCommandLine parseAppCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Tavrik Link"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption demo(QStringLiteral("demo"), QStringLiteral("Start with sample data instead of a device."));
    parser.addOption(demo);

    if (!parser.parse(arguments)) {
        return { std::nullopt, parser.errorText() + QStringLiteral("\n\n") + parser.helpText(), 1 };
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
            1 };
    }
    AppOptions options;
    options.demo = parser.isSet(demo);
    return { options, QString(), 0 };
}

} // namespace tavrik
