#include "TavrikLink/Views/TavrikViewCommands.hpp"

namespace tavrik {

TavrikViewCommands::TavrikViewCommands(QObject* parent)
    : QObject(parent)
{
}

void TavrikViewCommands::publish(Toggle newToggle, std::optional<bool> logDrawerExpanded)
{
    const bool wasEnabled = logDrawerItemEnabled();
    const QString oldText = logDrawerItemText();
    toggle = std::move(newToggle);
    expanded = logDrawerExpanded;
    if (wasEnabled != logDrawerItemEnabled() || oldText != logDrawerItemText()) {
        emit changed();
    }
}

void TavrikViewCommands::setLogDrawerExpanded(std::optional<bool> logDrawerExpanded)
{
    publish(toggle, logDrawerExpanded);
}

QString TavrikViewCommands::logDrawerItemText() const
{
    return expanded.value_or(false) ? QStringLiteral("Hide Logs") : QStringLiteral("Show Logs");
}

void TavrikViewCommands::triggerLogDrawerItem()
{
    if (toggle) {
        // A copy: the toggle may publish a new one while it runs.
        const Toggle current = toggle;
        current();
    }
}

} // namespace tavrik
