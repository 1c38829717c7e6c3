#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

namespace tavrik {

// The duration field: edits a bound number of seconds within 1 and a maximum. The bound value
// follows the typing at once; the text is put into canonical form only on commit (Return, losing
// focus, or disappearing when asked to), never while the user is typing in the focused field.
class DurationEditorPresenter : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString text READ text NOTIFY textChanged)
    Q_PROPERTY(bool focused READ isFocused WRITE setFocused NOTIFY focusedChanged)

public:
    struct Binding {
        std::function<std::int64_t()> read;
        std::function<void(std::int64_t)> write;
    };

    DurationEditorPresenter(
        Binding seconds, std::int64_t maximumSeconds, bool commitOnDisappear, QObject* parent = nullptr);

    static QString placeholder() { return QStringLiteral("((hh:)mm:)ss"); }

    QString text() const { return m_text; }
    bool isFocused() const { return m_focused; }
    std::int64_t maximumSeconds() const { return m_maximumSeconds; }
    bool commitsOnDisappear() const { return m_commitOnDisappear; }

    // The user typed: the text is kept as typed, and a parsable one is written (clamped) at once.
    void editText(const QString& typed);
    // Return.
    void submit();
    // Gaining focus shows the bound value; losing it commits.
    void setFocused(bool focused);
    void appear();
    void disappear();
    // The bound value was changed by someone else: shown unless the user is typing.
    void boundSecondsChanged();

signals:
    void textChanged(const QString& text);
    void focusedChanged(bool focused);

private:
    void commit();
    void showSeconds();
    void setText(const QString& text);
    std::int64_t clamped(std::int64_t value) const;

    Binding m_seconds;
    std::int64_t m_maximumSeconds;
    bool m_commitOnDisappear;
    QString m_text;
    bool m_focused = false;
};

} // namespace tavrik
