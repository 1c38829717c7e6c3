#include "TavrikLink/Views/WindowAlertQueue.hpp"

#include <algorithm>
#include <cstdio>

namespace tavrik {

WindowAlertQueue::WindowAlertQueue(QObject* parent)
    : QObject(parent)
{
}

void WindowAlertQueue::raise(Alert alert)
{
    if (contains(alert.key)) {
        return;
    }
    alerts.push_back(std::move(alert));
    if (alerts.size() == 1) {
        emit currentChanged();
    }
}

void WindowAlertQueue::withdraw(const std::string& key)
{
    const auto found = std::find_if(alerts.begin(), alerts.end(), [&](const Alert& alert) { return alert.key == key; });
    if (found == alerts.end()) {
        return;
    }
    const bool wasShown = found == alerts.begin();
    alerts.erase(found);
    if (wasShown) {
        emit currentChanged();
    }
}

void WindowAlertQueue::withdrawKind(const std::string& prefix, const std::string& keep)
{
    std::vector<std::string> stale;
    for (const Alert& alert : alerts) {
        if (alert.key.starts_with(prefix) && alert.key != keep) {
            stale.push_back(alert.key);
        }
    }
    for (const std::string& key : stale) {
        withdraw(key);
    }
}

std::vector<std::string> WindowAlertQueue::keys() const
{
    std::vector<std::string> result;
    for (const Alert& alert : alerts) {
        result.push_back(alert.key);
    }
    return result;
}

bool WindowAlertQueue::contains(const std::string& key) const
{
    return std::any_of(alerts.begin(), alerts.end(), [&](const Alert& alert) { return alert.key == key; });
}

void WindowAlertQueue::answer(std::size_t index)
{
    if (alerts.empty()) {
        return;
    }
    // Taken off first: the action may raise or withdraw alerts of its own.
    Alert shown = std::move(alerts.front());
    alerts.pop_front();
    if (index < shown.buttons.size() && shown.buttons[index].action) {
        shown.buttons[index].action();
    }
    emit currentChanged();
}

void WindowAlertQueue::dismiss()
{
    if (alerts.empty()) {
        return;
    }
    const auto& buttons = alerts.front().buttons;
    const auto cancel = std::find_if(
        buttons.begin(), buttons.end(), [](const Button& button) { return button.role == Button::Role::cancel; });
    answer(cancel == buttons.end() ? buttons.size() : static_cast<std::size_t>(cancel - buttons.begin()));
}

std::optional<std::size_t> WindowAlertQueue::defaultButton(const Alert& alert)
{
    const auto& buttons = alert.buttons;
    const auto has = [&](Button::Role role) {
        return std::find_if(buttons.begin(), buttons.end(), [&](const Button& button) { return button.role == role; });
    };
    const auto chosen
        = has(Button::Role::destructive) != buttons.end() ? has(Button::Role::cancel) : has(Button::Role::normal);
    if (chosen == buttons.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(chosen - buttons.begin());
}

std::string formattedTimeDrift(std::int64_t seconds)
{
    char text[64];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%lldh %02lldm", static_cast<long long>(seconds / 3600),
            static_cast<long long>((seconds % 3600) / 60));
    } else if (seconds < 60) {
        std::snprintf(text, sizeof text, "%llds", static_cast<long long>(seconds));
    } else {
        std::snprintf(text, sizeof text, "%lldm %02llds", static_cast<long long>(seconds / 60),
            static_cast<long long>(seconds % 60));
    }
    return text;
}

std::string timeSyncMessage(const TimeSyncNotice& notice)
{
    std::string message = "Tavrik time: " + notice.deviceText + "\nComputer time: " + notice.macText + "\n";
    message += notice.driftSeconds ? "Difference: " + formattedTimeDrift(*notice.driftSeconds)
                                   : std::string("Tavrik reported an invalid clock.");
    message += "\nAllow Tavrik Link to update Tavrik to this computer's time?";
    return message;
}

} // namespace tavrik
