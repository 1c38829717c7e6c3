#pragma once

#include "TavrikCore/Model/ClockModels.hpp"

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tavrik {

// The window's alerts, one at a time in the order they were raised. Each alert has a key made of
// its kind and the notice it shows: raising a key that is already showing or waiting does nothing,
// while a new notice (a new key) shows again.
class WindowAlertQueue : public QObject {
    Q_OBJECT
public:
    struct Button {
        enum class Role { normal, cancel, destructive };
        std::string text;
        Role role = Role::normal;
        std::function<void()> action;
    };

    // What the alert's icon says: news, a choice to make, or something that went wrong or cannot
    // be undone.
    enum class Kind { information, question, warning };

    struct Alert {
        std::string key;
        std::string title;
        std::string message;
        std::vector<Button> buttons;
        Kind kind = Kind::question;
    };

    // Every alert window carries the program's name.
    static constexpr const char* windowTitle = "Tavrik Link";

    explicit WindowAlertQueue(QObject* parent = nullptr);

    void raise(Alert alert);
    // Takes an alert away, shown or waiting (its notice went away).
    void withdraw(const std::string& key);
    // Withdraws every alert whose key starts with `prefix` except `keep`.
    void withdrawKind(const std::string& prefix, const std::string& keep = {});

    const Alert* current() const { return alerts.empty() ? nullptr : &alerts.front(); }
    std::vector<std::string> keys() const;
    bool contains(const std::string& key) const;

    // The user pressed the button at `index` of the shown alert; runs its action and shows the next.
    void answer(std::size_t index);
    // The shown alert was closed without a button (Escape): its cancel button's action runs.
    void dismiss();
    // The button Return presses: the first plain one; when the alert has a destructive button,
    // the cancel button, so that a reflex never erases anything. None when neither exists.
    static std::optional<std::size_t> defaultButton(const Alert& alert);

signals:
    // The shown alert changed (another one, or none).
    void currentChanged();

private:
    std::deque<Alert> alerts;
};

// The informative text of the device-clock prompt.
std::string timeSyncMessage(const TimeSyncNotice& notice);
// "1h 00m", "1m 00s", "59s", "-5s".
std::string formattedTimeDrift(std::int64_t seconds);

} // namespace tavrik
