#include "TavrikLink/Views/StepEditorSheetPresenter.hpp"

#include "TavrikCore/Support/Text.hpp"
#include "TavrikLink/Views/TagReferenceLookup.hpp"

#include <algorithm>
#include <utility>

namespace tavrik {

namespace {

bool hasTag(const std::vector<TagInfo>& tags, std::uint32_t id)
{
    return std::any_of(tags.begin(), tags.end(), [id](const TagInfo& tag) { return tag.id == id; });
}

} // namespace

StepEditorSheetPresenter::StepEditorSheetPresenter(RoutineStepDraft step, std::vector<TagInfo> tags,
    std::function<void()> onClose, std::function<void()> onDelete, bool commitDurationOnDisappear, QObject* parent)
    : EditorSheetPresenter(std::move(onClose), std::move(onDelete), parent)
    , m_step(std::move(step))
    , m_tags(std::move(tags))
    , m_duration({ [this] { return m_step.seconds; },
                     [this](std::int64_t seconds) {
                         m_step.seconds = seconds;
                         emit changed();
                     } },
          maximumSeconds, commitDurationOnDisappear)
{
}

std::string StepEditorSheetPresenter::tagLabel(std::string_view tagId, const std::vector<TagInfo>& tags)
{
    if (tagId.empty()) {
        return "Select Tag";
    }
    if (const auto id = parseTagReference(tagId)) {
        const auto found = std::find_if(tags.begin(), tags.end(), [&](const TagInfo& tag) { return tag.id == *id; });
        if (found != tags.end()) {
            return found->name;
        }
    }
    return "Unlinked tag";
}

std::optional<std::string> StepEditorSheetPresenter::tagValidationMessage(
    std::string_view tagId, const std::vector<TagInfo>& tags)
{
    const std::string trimmed = text::trimmed(tagId);
    const auto id = parseTagReference(trimmed);
    if (tags.empty()) {
        if (trimmed.empty()) {
            return "Enter a tag ID.";
        }
        if (!id) {
            return "Enter a numeric tag ID.";
        }
        return std::nullopt;
    }
    if (!id || !hasTag(tags, *id)) {
        return "Select a tag.";
    }
    return std::nullopt;
}

QString StepEditorSheetPresenter::tagMenuLabel() const
{
    return QString::fromStdString(tagLabel(m_step.tagId, m_tags));
}

QStringList StepEditorSheetPresenter::tagMenuItems() const
{
    QStringList items;
    for (const TagInfo& tag : m_tags) {
        items.append(QString::fromStdString(tag.name));
    }
    return items;
}

std::optional<QString> StepEditorSheetPresenter::shownTagValidationMessage() const
{
    if (!attemptedSave()) {
        return std::nullopt;
    }
    if (const auto message = tagValidationMessage(m_step.tagId, m_tags)) {
        return QString::fromStdString(*message);
    }
    return std::nullopt;
}

void StepEditorSheetPresenter::setTagId(const QString& tagId)
{
    // Kept as typed, blanks included; only the checks trim.
    m_step.tagId = tagId.toStdString();
    emit changed();
}

void StepEditorSheetPresenter::chooseTag(int menuIndex)
{
    if (menuIndex < 0 || menuIndex >= static_cast<int>(m_tags.size())) {
        return;
    }
    m_step.tagId = std::to_string(m_tags[static_cast<std::size_t>(menuIndex)].id);
    emit changed();
}

void StepEditorSheetPresenter::setInstruction(const QString& instruction)
{
    m_step.instruction = instruction.toStdString();
    emit changed();
}

void StepEditorSheetPresenter::setUnstoppable(bool unstoppable)
{
    m_step.unstoppable = unstoppable;
    emit changed();
}

bool StepEditorSheetPresenter::acceptForClose()
{
    return !tagValidationMessage(m_step.tagId, m_tags) && m_step.seconds >= 1;
}

void StepEditorSheetPresenter::deleteStep()
{
    remove();
}

} // namespace tavrik
