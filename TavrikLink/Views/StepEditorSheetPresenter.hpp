#pragma once

#include "TavrikCore/Model/TagModels.hpp"
#include "TavrikCore/Routine/RoutineDraft.hpp"
#include "TavrikLink/Views/DurationEditorPresenter.hpp"
#include "TavrikLink/Views/EditorSheetPresenter.hpp"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

// The "Step Details" sheet: edits the host's working copy of one step. It closes only through Done
// (when the step is acceptable) or Delete; Escape and the window's close button do nothing. Messages
// show only after the first Done and then follow every edit.
class StepEditorSheetPresenter : public EditorSheetPresenter {
    Q_OBJECT

public:
    StepEditorSheetPresenter(RoutineStepDraft step, std::vector<TagInfo> tags, std::function<void()> onClose,
        std::function<void()> onDelete, bool commitDurationOnDisappear, QObject* parent = nullptr);

    static QString title() { return QStringLiteral("Step Details"); }
    static QString tagFieldTitle() { return QStringLiteral("Tag ID"); }
    static QString instructionFieldTitle() { return QStringLiteral("Instruction"); }
    static QString unstoppableTitle() { return QStringLiteral("Unstoppable"); }
    static constexpr std::int64_t maximumSeconds = 7200;

    // "Select Tag", a saved tag's name, or "Unlinked tag".
    static std::string tagLabel(std::string_view tagId, const std::vector<TagInfo>& tags);
    static std::optional<std::string> tagValidationMessage(std::string_view tagId, const std::vector<TagInfo>& tags);

    const RoutineStepDraft& step() const { return m_step; }
    const std::vector<TagInfo>& tags() const { return m_tags; }
    // With saved tags the tag is picked from a menu, otherwise typed as a number.
    bool usesTagMenu() const { return !m_tags.empty(); }
    QString tagMenuLabel() const;
    QStringList tagMenuItems() const;
    // The message under the tag control: none before the first Done.
    std::optional<QString> shownTagValidationMessage() const;
    DurationEditorPresenter& durationEditor() { return m_duration; }

    void setTagId(const QString& tagId);
    void chooseTag(int menuIndex);
    void setInstruction(const QString& instruction);
    void setUnstoppable(bool unstoppable);

    void deleteStep();

private:
    bool acceptForClose() override;

    RoutineStepDraft m_step;
    std::vector<TagInfo> m_tags;
    DurationEditorPresenter m_duration;
};

} // namespace tavrik
