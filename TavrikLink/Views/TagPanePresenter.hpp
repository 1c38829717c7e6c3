#pragma once

#include "TavrikCore/Model/TagModels.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"

#include <QObject>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

class TavrikBleCentral;

// The tag pane: the selected saved tag with its name and UID fields and a delete button, and the
// window's tag operations (selection, the create-by-scan flow, the editor's save and cancel).
//
// The pane keeps a UID draft of its own. The window's tagDraftUid belongs to the editor sheet, so a
// tag scanned while creating never reaches the selected tag; only the user's own edits of the
// pane's UID field go to the controller. The pane shows the tags and the tag error it last observed.
class TagPanePresenter : public QObject {
    Q_OBJECT
public:
    static constexpr std::string_view emptyPrompt = "Select a tag from the sidebar or add a new one.";
    static constexpr std::string_view duplicateNameMessage = "A tag with this title already exists.";
    static constexpr std::string_view uidRequiredMessage = "UID is required.";
    static constexpr std::string_view duplicateUidMessage = "A tag with this UID already exists.";

    // What the pane reads of the controller.
    struct Inputs {
        std::vector<TagInfo> tags;
        std::optional<std::string> tagError;
        bool operator==(const Inputs&) const = default;
    };

    // Observes the controller's tags and tag error.
    TagPanePresenter(TavrikBleCentral& controller, ContentViewPresenter& window, QObject* parent = nullptr);

    static Inputs read(const TavrikBleCentral& controller);
    // The controller's tags or tag error as they are now; the pane redraws only when they changed,
    // and follows a changed tag list into its drafts.
    void observe(Inputs inputs);

    // --- The pane ---
    const std::optional<std::string>& tagError() const;
    // The tag with the window's selectedTagId, when the list has it.
    std::optional<TagInfo> selectedTag() const;
    const std::string& name() const;
    const std::string& uid() const { return uidDraft; }
    std::optional<std::string> nameValidationMessage() const;
    std::optional<std::string> uidValidationMessage() const;
    // The user typed in the name field: a valid name is sent as a rename, as typed.
    void editName(const std::string& name);
    // The user typed in the UID field: a valid UID is sent trimmed.
    void editUid(const std::string& uid);
    // Return in the UID field.
    void submitUid();
    // The user left a field, or the pane: a name or UID that cannot be saved (empty, or another
    // tag's) gives way to the tag's saved one. While typing the text and its message stay.
    void finishEditing();
    void deleteSelectedTag();

    // --- Window operations, shared by the pane, the sidebar and the editor sheet ---
    static void selectTag(TavrikBleCentral& controller, ContentViewPresenter& window, const TagInfo& tag);
    static void beginCreatingTag(TavrikBleCentral& controller, ContentViewPresenter& window);
    static void cancelTagEdit(TavrikBleCentral& controller, ContentViewPresenter& window);
    static void handleTagSave(TavrikBleCentral& controller, ContentViewPresenter& window);
    static void syncTagSelection(TavrikBleCentral& controller, ContentViewPresenter& window);
    // Deletes at once; false (with the controller's tagError) when the controller refused.
    static bool confirmDeleteTag(TavrikBleCentral& controller, ContentViewPresenter& window, const TagInfo& tag);
    // The editor sheet's message about the name.
    static std::optional<std::string> tagDraftValidationMessage(
        const std::vector<TagInfo>& tags, const ContentViewPresenter::State& state);
    // Points the window's empty tag actions at the operations above.
    static void installWindowActions(ContentViewPresenter& window, TavrikBleCentral& controller);

    // Names match trimmed and without regard to case; a blank entered name matches nothing.
    static bool hasOtherTagNamed(
        const std::vector<TagInfo>& tags, std::string_view name, std::optional<std::uint32_t> exceptId);
    // UIDs match by their key: trimmed and without regard to case.
    static bool hasOtherTagWithUid(
        const std::vector<TagInfo>& tags, std::string_view uid, std::optional<std::uint32_t> exceptId);

signals:
    void changed();

private:
    // `tagsChanged`: the controller's list changed, rather than the window.
    void refresh(bool tagsChanged);
    void sendUid(const std::string& trimmedUid);

    TavrikBleCentral& controller;
    ContentViewPresenter& window;
    // `observe` of the controller's state, comparing and copying in place: a rename among many tags
    // then neither builds a new list nor allocates.
    void observeController();

    Inputs observed;
    std::string uidDraft;
    // The tag the draft was filled from, and its UID at that time.
    std::optional<std::uint32_t> draftTagId;
    std::string draftSourceUid;
    ContentViewPresenter::SidebarPane shownPane;
};

} // namespace tavrik
