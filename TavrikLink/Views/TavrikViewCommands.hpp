#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace tavrik {

// The View menu's log drawer item. The main window publishes its drawer toggle and whether the
// drawer is open; with nothing published the item reads "Show Logs" and is disabled.
class TavrikViewCommands : public QObject {
    Q_OBJECT
public:
    using Toggle = std::function<void()>;

    explicit TavrikViewCommands(QObject* parent = nullptr);

    // An empty toggle withdraws it; none for expanded means nothing published.
    void publish(Toggle toggle, std::optional<bool> logDrawerExpanded);
    void setLogDrawerExpanded(std::optional<bool> expanded);
    void withdraw() { publish({}, std::nullopt); }

    QString logDrawerItemText() const;
    bool logDrawerItemEnabled() const { return static_cast<bool>(toggle); }
    void triggerLogDrawerItem();

signals:
    void changed();

private:
    Toggle toggle;
    std::optional<bool> expanded;
};

} // namespace tavrik
