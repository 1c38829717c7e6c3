#include "TavrikLink/Ui/DetailPaneFactory.hpp"

#include "TavrikLink/Ui/FirmwareDetailView.hpp"
#include "TavrikLink/Ui/FirmwarePane.hpp"
#include "TavrikLink/Ui/SettingsPane.hpp"
#include "TavrikLink/Ui/WindowPanes.hpp"

#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

namespace tavrik {

namespace {

// A pane that is not built yet: its name, centred, so the window can be walked through.
QWidget* placeholder(const DetailPaneContext& context, const QString& name, const QString& text)
{
    auto* pane = new QWidget(context.parent);
    pane->setObjectName(name);
    auto* layout = new QVBoxLayout(pane);
    auto* label = new QLabel(text, pane);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(label);
    return pane;
}

} // namespace

QWidget* DetailPaneFactory::detailPane(ContentViewPresenter::DetailContent content, const DetailPaneContext& context)
{
    using Content = ContentViewPresenter::DetailContent;
    switch (content) {
    case Content::routinePane:
        return routinePane(context);
    case Content::routineEmptyState:
        return routineEmptyState(context);
    case Content::tags:
        return tagPane(context);
    case Content::firmware:
        return firmwarePane(context);
    case Content::settings:
        return settingsPane(context);
    }
    return routineEmptyState(context);
}

QWidget* DetailPaneFactory::routinePane(const DetailPaneContext& context)
{
    return placeholder(context, QStringLiteral("routinePane"), QStringLiteral("Routine"));
}

QWidget* DetailPaneFactory::routineEmptyState(const DetailPaneContext& context)
{
    return placeholder(context, QStringLiteral("routineEmptyState"), QStringLiteral("Routines"));
}

QWidget* DetailPaneFactory::tagPane(const DetailPaneContext& context)
{
    return placeholder(context, QStringLiteral("tagPane"), QStringLiteral("Tags"));
}

QWidget* DetailPaneFactory::firmwarePane(const DetailPaneContext& context)
{
    if (!context.panes) {
        return placeholder(context, QStringLiteral("firmwarePane"), QStringLiteral("Firmware"));
    }
    auto* pane = new FirmwarePane(context.panes->firmware(), context.parent);
    pane->setObjectName(QStringLiteral("firmwarePane"));
    return pane;
}

QWidget* DetailPaneFactory::settingsPane(const DetailPaneContext& context)
{
    if (!context.panes) {
        return placeholder(context, QStringLiteral("settingsPane"), QStringLiteral("Settings"));
    }
    auto* pane = new SettingsPane(context.panes->settings(), context.parent);
    pane->setObjectName(QStringLiteral("settingsPane"));
    return pane;
}

QWidget* DetailPaneFactory::usbSetupContent(const DetailPaneContext& context)
{
    return placeholder(context, QStringLiteral("usbSetupContent"), QStringLiteral("USB setup"));
}

QWidget* DetailPaneFactory::newBoardSection(const DetailPaneContext& context)
{
    return placeholder(context, QStringLiteral("newBoardSection"), QStringLiteral("Set up a new board over USB"));
}

QWidget* DetailPaneFactory::legacyFirmwareSection(const DetailPaneContext& context)
{
    if (!context.panes) {
        return placeholder(context, QStringLiteral("legacyFirmwareSection"), QStringLiteral("Firmware"));
    }
    auto* section = new FirmwareDetailView(context.parent);
    section->setObjectName(QStringLiteral("legacyFirmwareSection"));
    section->bind(context.panes->legacyFirmware());
    return section;
}

QWidget* DetailPaneFactory::tagEditorSheet(const DetailPaneContext& context)
{
    return placeholder(context, QStringLiteral("tagEditorSheet"), QStringLiteral("Tag"));
}

QWidget* DetailPaneFactory::wifiCredentialEditorSheet(const DetailPaneContext& context)
{
    return placeholder(context, QStringLiteral("wifiCredentialEditorSheet"), QStringLiteral("Wi-Fi network"));
}

} // namespace tavrik
