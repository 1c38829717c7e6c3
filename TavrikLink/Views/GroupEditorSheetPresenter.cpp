#include "TavrikLink/Views/GroupEditorSheetPresenter.hpp"

#include "TavrikCore/Support/Text.hpp"

#include <algorithm>
#include <utility>

namespace tavrik {

GroupEditorSheetPresenter::GroupEditorSheetPresenter(
    RoutineGroupDraft group, std::function<void()> onClose, std::function<void()> onDelete, QObject* parent)
    : EditorSheetPresenter(std::move(onClose), std::move(onDelete), parent)
    , m_group(std::move(group))
    , m_timeLimit({ [this] { return m_group.timeLimitSeconds; },
                      [this](std::int64_t seconds) {
                          m_group.timeLimitSeconds = m_group.mode == RoutineGroupMode::timebox ? seconds : 0;
                          emit changed();
                      } },
          maximumTimeboxSeconds, true)
{
}

std::optional<QString> GroupEditorSheetPresenter::shownLabelValidationMessage() const
{
    if (attemptedSave() && text::trimmed(m_group.label).empty()) {
        return QStringLiteral("Enter a group name.");
    }
    return std::nullopt;
}

QString GroupEditorSheetPresenter::modeDescription() const
{
    return QString::fromUtf8(explanation(m_group.mode));
}

void GroupEditorSheetPresenter::setLabel(const QString& label)
{
    m_group.label = label.toStdString();
    emit changed();
}

void GroupEditorSheetPresenter::setMode(RoutineGroupMode mode)
{
    if (mode == m_group.mode) {
        return;
    }
    m_group.mode = mode;
    if (mode == RoutineGroupMode::rotation) {
        m_group.timeLimitSeconds = 0;
    } else {
        if (m_group.timeLimitSeconds == 0) {
            m_group.timeLimitSeconds = 900;
        }
        m_group.timeLimitSeconds = std::max<std::int64_t>(m_group.timeLimitSeconds, 1);
    }
    m_timeLimit.boundSecondsChanged();
    emit changed();
}

bool GroupEditorSheetPresenter::acceptForClose()
{
    if (text::trimmed(m_group.label).empty() || !validTimeLimit(m_group.mode, m_group.timeLimitSeconds)) {
        return false;
    }
    m_group.label = text::trimmed(m_group.label);
    emit changed();
    return true;
}

void GroupEditorSheetPresenter::deleteGroup()
{
    remove();
}

} // namespace tavrik
