#pragma once

#include "TavrikCore/Routine/RoutineDraft.hpp"
#include "TavrikLink/Views/DurationEditorPresenter.hpp"
#include "TavrikLink/Views/EditorSheetPresenter.hpp"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace tavrik {

// The "Group Details" sheet: edits the host's working copy of one group, closing only through Done
// (name given, time limit fitting the mode) or Delete.
class GroupEditorSheetPresenter : public EditorSheetPresenter {
    Q_OBJECT

public:
    GroupEditorSheetPresenter(RoutineGroupDraft group, std::function<void()> onClose, std::function<void()> onDelete,
        QObject* parent = nullptr);

    static QString title() { return QStringLiteral("Group Details"); }
    static QString nameFieldTitle() { return QStringLiteral("Name"); }
    static QString modeFieldTitle() { return QStringLiteral("Mode"); }
    static QString timeLimitTitle() { return QStringLiteral("Time limit"); }

    const RoutineGroupDraft& group() const { return m_group; }
    std::optional<QString> shownLabelValidationMessage() const;
    // The time-limit field is shown only for a timebox group.
    bool showsTimeLimit() const { return m_group.mode == RoutineGroupMode::timebox; }
    QString modeDescription() const;
    DurationEditorPresenter& timeLimitEditor() { return m_timeLimit; }

    void setLabel(const QString& label);
    void setMode(RoutineGroupMode mode);

    void deleteGroup();

private:
    bool acceptForClose() override;

    RoutineGroupDraft m_group;
    DurationEditorPresenter m_timeLimit;
};

} // namespace tavrik
