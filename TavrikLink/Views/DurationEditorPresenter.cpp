#include "TavrikLink/Views/DurationEditorPresenter.hpp"

#include "TavrikLink/Views/DurationText.hpp"

#include <algorithm>
#include <utility>

namespace tavrik {

DurationEditorPresenter::DurationEditorPresenter(
    Binding seconds, std::int64_t maximumSeconds, bool commitOnDisappear, QObject* parent)
    : QObject(parent)
    , m_seconds(std::move(seconds))
    , m_maximumSeconds(maximumSeconds)
    , m_commitOnDisappear(commitOnDisappear)
{
}

std::int64_t DurationEditorPresenter::clamped(std::int64_t value) const
{
    return std::min(std::max<std::int64_t>(value, 1), m_maximumSeconds);
}

void DurationEditorPresenter::setText(const QString& text)
{
    if (text == m_text) {
        return;
    }
    m_text = text;
    emit textChanged(m_text);
}

void DurationEditorPresenter::showSeconds()
{
    setText(QString::fromStdString(formattedDurationInput(m_seconds.read())));
}

void DurationEditorPresenter::editText(const QString& typed)
{
    setText(typed);
    if (const auto value = parseDurationInput(typed.toStdString())) {
        m_seconds.write(clamped(*value));
    }
}

void DurationEditorPresenter::commit()
{
    if (const auto value = parseDurationInput(m_text.toStdString())) {
        m_seconds.write(clamped(*value));
    }
    showSeconds();
}

void DurationEditorPresenter::submit()
{
    commit();
}

void DurationEditorPresenter::setFocused(bool focused)
{
    if (focused == m_focused) {
        return;
    }
    m_focused = focused;
    emit focusedChanged(m_focused);
    if (m_focused) {
        showSeconds();
    } else {
        commit();
    }
}

void DurationEditorPresenter::appear()
{
    showSeconds();
}

void DurationEditorPresenter::disappear()
{
    if (m_commitOnDisappear) {
        commit();
    }
}

void DurationEditorPresenter::boundSecondsChanged()
{
    if (!m_focused) {
        showSeconds();
    }
}

} // namespace tavrik
