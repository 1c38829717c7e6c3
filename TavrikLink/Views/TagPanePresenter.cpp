#include "TavrikLink/Views/TagPanePresenter.hpp"

#include "TavrikCore/Support/Text.hpp"
#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include <algorithm>

namespace tavrik {

namespace {

bool isCreate(const std::optional<ContentViewPresenter::TagEditorMode>& mode)
{
    return mode && std::holds_alternative<ContentViewPresenter::TagEditorCreate>(*mode);
}

const TagInfo* findTag(const std::vector<TagInfo>& tags, std::optional<std::uint32_t> id)
{
    if (!id) {
        return nullptr;
    }
    const auto found = std::find_if(tags.begin(), tags.end(), [&](const TagInfo& tag) { return tag.id == *id; });
    return found == tags.end() ? nullptr : &*found;
}

// Whether the name, trimmed, equals `wanted` ignoring case. Most names begin and end with a visible
// ASCII character and so are their own trimmed form: copying each of many tags' names for every
// check was the cost.
bool hasTrimmedName(const std::string& name, std::string_view wanted)
{
    const auto visible = [](char c) { return c > ' ' && c < 0x7F; };
    if (!name.empty() && visible(name.front()) && visible(name.back())) {
        return text::equalIgnoringCase(name, wanted);
    }
    return text::equalIgnoringCase(text::trimmed(name), wanted);
}

// Fills the pane's name from the data without the change counting as the user's rename.
void fillEditorName(ContentViewPresenter& window, const std::string& name)
{
    window.modify([&](ContentViewPresenter::State& state) {
        state.isSyncingTagEditor = true;
        state.tagEditorName = name;
    });
    auto reset
        = [&window] { window.modify([](ContentViewPresenter::State& state) { state.isSyncingTagEditor = false; }); };
    if (window.actions().defer) {
        window.actions().defer(reset);
    } else {
        reset();
    }
}

// The editor's draft UID follows the selection only while no edit is under way, so a refill can
// never replace a scanned UID in an open create sheet.
void fillEditorUid(ContentViewPresenter& window, const std::string& uid)
{
    window.modify([&](ContentViewPresenter::State& state) {
        if (!state.tagMode) {
            state.tagDraftUid = uid;
        }
    });
}

} // namespace

TagPanePresenter::TagPanePresenter(TavrikBleCentral& controller, ContentViewPresenter& window, QObject* parent)
    : QObject(parent)
    , controller(controller)
    , window(window)
    , observed(read(controller))
    , shownPane(window.state().selectedPane)
{
    connect(&window, &ContentViewPresenter::changed, this, [this] { refresh(false); });
    for (auto signal : { &TavrikBleCentral::tagsChanged, &TavrikBleCentral::tagErrorChanged }) {
        connect(&controller, signal, this, &TagPanePresenter::observeController);
    }
    refresh(true);
}

TagPanePresenter::Inputs TagPanePresenter::read(const TavrikBleCentral& controller)
{
    return { controller.tags(), controller.tagError() };
}

void TagPanePresenter::observe(Inputs inputs)
{
    if (inputs == observed) {
        return;
    }
    const bool tagsChanged = inputs.tags != observed.tags;
    observed = std::move(inputs);
    if (tagsChanged) {
        refresh(true);
    } else {
        emit changed();
    }
}

void TagPanePresenter::observeController()
{
    const bool tagsChanged = controller.tags() != observed.tags;
    if (!tagsChanged && controller.tagError() == observed.tagError) {
        return;
    }
    if (tagsChanged) {
        observed.tags = controller.tags();
    }
    observed.tagError = controller.tagError();
    if (tagsChanged) {
        refresh(true);
    } else {
        emit changed();
    }
}

bool TagPanePresenter::hasOtherTagNamed(
    const std::vector<TagInfo>& tags, std::string_view name, std::optional<std::uint32_t> exceptId)
{
    const std::string wanted = text::trimmed(name);
    if (wanted.empty()) {
        return false;
    }
    return std::any_of(tags.begin(), tags.end(),
        [&](const TagInfo& tag) { return (!exceptId || tag.id != *exceptId) && hasTrimmedName(tag.name, wanted); });
}

bool TagPanePresenter::hasOtherTagWithUid(
    const std::vector<TagInfo>& tags, std::string_view uid, std::optional<std::uint32_t> exceptId)
{
    return tagUidTaken(tags, uid, exceptId);
}

const std::optional<std::string>& TagPanePresenter::tagError() const
{
    return observed.tagError;
}

std::optional<TagInfo> TagPanePresenter::selectedTag() const
{
    const TagInfo* tag = findTag(observed.tags, window.state().selectedTagId);
    return tag ? std::optional<TagInfo>(*tag) : std::nullopt;
}

const std::string& TagPanePresenter::name() const
{
    return window.state().tagEditorName;
}

std::optional<std::string> TagPanePresenter::nameValidationMessage() const
{
    const auto tag = selectedTag();
    const std::string& entered = name();
    if (!tag || text::trimmed(entered).empty()) {
        return std::nullopt;
    }
    if (hasOtherTagNamed(observed.tags, entered, tag->id)) {
        return std::string(duplicateNameMessage);
    }
    return std::nullopt;
}

std::optional<std::string> TagPanePresenter::uidValidationMessage() const
{
    const auto tag = selectedTag();
    if (!tag) {
        return std::nullopt;
    }
    if (text::trimmed(uidDraft).empty()) {
        return std::string(uidRequiredMessage);
    }
    if (hasOtherTagWithUid(observed.tags, uidDraft, tag->id)) {
        return std::string(duplicateUidMessage);
    }
    return std::nullopt;
}

void TagPanePresenter::editName(const std::string& name)
{
    window.modify([&](ContentViewPresenter::State& state) { state.tagEditorName = name; });
    const auto tag = selectedTag();
    // Only the user's typing comes here, so a refill of the field can never be taken for a rename.
    if (!tag || name.empty()) {
        return;
    }
    if (hasOtherTagNamed(observed.tags, name, tag->id)) {
        emit changed();
        return;
    }
    controller.updateTag(tag->id, name);
    emit changed();
}

void TagPanePresenter::editUid(const std::string& uid)
{
    uidDraft = uid;
    if (!uidValidationMessage()) {
        sendUid(text::trimmed(uid));
    }
    emit changed();
}

void TagPanePresenter::submitUid()
{
    sendUid(text::trimmed(uidDraft));
    emit changed();
}

void TagPanePresenter::finishEditing()
{
    const auto tag = selectedTag();
    if (!tag) {
        return;
    }
    if (name().empty() || nameValidationMessage()) {
        fillEditorName(window, tag->name);
    }
    if (uidValidationMessage()) {
        uidDraft = tag->uid;
        draftSourceUid = tag->uid;
    }
    emit changed();
}

void TagPanePresenter::sendUid(const std::string& trimmedUid)
{
    const auto tag = selectedTag();
    if (!tag || trimmedUid.empty() || hasOtherTagWithUid(observed.tags, trimmedUid, tag->id)) {
        return;
    }
    // The draft now stands for what the tag holds, so the list's echo does not refill the field.
    draftSourceUid = trimmedUid;
    controller.updateTagUid(tag->id, trimmedUid);
}

void TagPanePresenter::deleteSelectedTag()
{
    if (const auto tag = selectedTag()) {
        confirmDeleteTag(controller, window, *tag);
    }
}

void TagPanePresenter::refresh(bool tagsChanged)
{
    const ContentViewPresenter::SidebarPane pane = window.state().selectedPane;
    const bool leftTags = shownPane == ContentViewPresenter::SidebarPane::tags && pane != shownPane;
    shownPane = pane;
    if (leftTags) {
        finishEditing();
    }
    const auto tag = selectedTag();
    if (!tag) {
        uidDraft.clear();
        draftTagId.reset();
        draftSourceUid.clear();
    } else if (draftTagId != tag->id) {
        draftTagId = tag->id;
        uidDraft = tag->uid;
        draftSourceUid = tag->uid;
    } else if (tagsChanged && tag->uid != draftSourceUid) {
        // The tag's UID changed from elsewhere (a load, the device): show it. Only a new list says
        // so: a window change may come while the controller's list changes, before this pane has
        // the new list, and must not refill the field from the old one.
        draftSourceUid = tag->uid;
        uidDraft = tag->uid;
    }
    emit changed();
}

void TagPanePresenter::selectTag(TavrikBleCentral&, ContentViewPresenter& window, const TagInfo& tag)
{
    window.modify([&](ContentViewPresenter::State& state) {
        state.selectedTagId = tag.id;
        state.tagMode.reset();
    });
    fillEditorName(window, tag.name);
    fillEditorUid(window, tag.uid);
}

void TagPanePresenter::beginCreatingTag(TavrikBleCentral& controller, ContentViewPresenter& window)
{
    window.modify([](ContentViewPresenter::State& state) {
        state.tagMode = ContentViewPresenter::TagEditorCreate {};
        state.tagDraftName.clear();
        state.tagDraftUid.clear();
    });
    controller.beginTagScan(TagScanPurpose::generic);
}

void TagPanePresenter::cancelTagEdit(TavrikBleCentral& controller, ContentViewPresenter& window)
{
    const bool creating = isCreate(window.state().tagMode);
    window.modify([](ContentViewPresenter::State& state) { state.showingTagSheet = false; });
    if (creating) {
        controller.setTagScanCommandPending(false);
        if (controller.tagScanSessionActive() && controller.isConnected()) {
            controller.sendTagCommand("cancel");
        }
    }
    controller.endTagScanSession();
    window.modify([](ContentViewPresenter::State& state) { state.tagMode.reset(); });
}

void TagPanePresenter::handleTagSave(TavrikBleCentral& controller, ContentViewPresenter& window)
{
    const ContentViewPresenter::State state = window.state();
    const std::vector<TagInfo> tags = controller.tags();
    if (!state.tagMode) {
        window.modify([](ContentViewPresenter::State& next) { next.showingTagSheet = false; });
        return;
    }
    const std::string trimmedUid = text::trimmed(state.tagDraftUid);
    if (const auto* rename = std::get_if<ContentViewPresenter::TagEditorRename>(&*state.tagMode)) {
        const std::uint32_t id = rename->tag.id;
        if (state.tagDraftName.empty() || hasOtherTagNamed(tags, state.tagDraftName, id) || trimmedUid.empty()
            || hasOtherTagWithUid(tags, state.tagDraftUid, id)) {
            return;
        }
        controller.updateTag(id, state.tagDraftName);
        controller.updateTagUid(id, state.tagDraftUid);
    } else {
        if (state.tagDraftName.empty() || trimmedUid.empty() || hasOtherTagNamed(tags, state.tagDraftName, std::nullopt)
            || hasOtherTagWithUid(tags, state.tagDraftUid, std::nullopt)) {
            return;
        }
        controller.createTag(state.tagDraftName, trimmedUid);
    }
    controller.endTagScanSession();
    window.modify([](ContentViewPresenter::State& next) {
        next.showingTagSheet = false;
        next.tagMode.reset();
    });
}

void TagPanePresenter::syncTagSelection(TavrikBleCentral& controller, ContentViewPresenter& window)
{
    const std::vector<TagInfo> tags = controller.tags();
    if (const TagInfo* selected = findTag(tags, window.state().selectedTagId)) {
        const TagInfo tag = *selected;
        fillEditorName(window, tag.name);
        fillEditorUid(window, tag.uid);
        return;
    }
    if (tags.empty()) {
        window.modify([](ContentViewPresenter::State& state) { state.selectedTagId.reset(); });
        fillEditorName(window, std::string());
        fillEditorUid(window, std::string());
        return;
    }
    selectTag(controller, window, tags.front());
}

bool TagPanePresenter::confirmDeleteTag(TavrikBleCentral& controller, ContentViewPresenter& window, const TagInfo& tag)
{
    if (!controller.deleteTag(tag.id)) {
        return false;
    }
    window.modify([&](ContentViewPresenter::State& state) {
        if (state.selectedTagId == tag.id) {
            state.selectedTagId.reset();
            state.tagEditorName.clear();
            if (!state.tagMode) {
                state.tagDraftUid.clear();
            }
        }
    });
    syncTagSelection(controller, window);
    return true;
}

std::optional<std::string> TagPanePresenter::tagDraftValidationMessage(
    const std::vector<TagInfo>& tags, const ContentViewPresenter::State& state)
{
    if (!state.tagMode || text::trimmed(state.tagDraftName).empty()) {
        return std::nullopt;
    }
    std::optional<std::uint32_t> except;
    if (const auto* rename = std::get_if<ContentViewPresenter::TagEditorRename>(&*state.tagMode)) {
        except = rename->tag.id;
    }
    if (hasOtherTagNamed(tags, state.tagDraftName, except)) {
        return std::string(duplicateNameMessage);
    }
    return std::nullopt;
}

void TagPanePresenter::installWindowActions(ContentViewPresenter& window, TavrikBleCentral& controller)
{
    ContentViewPresenter::Actions& actions = window.actions();
    TavrikBleCentral* c = &controller;
    ContentViewPresenter* w = &window;
    if (!actions.selectTag) {
        actions.selectTag = [c, w](const TagInfo& tag) { selectTag(*c, *w, tag); };
    }
    if (!actions.beginCreatingTag) {
        actions.beginCreatingTag = [c, w] { beginCreatingTag(*c, *w); };
    }
    if (!actions.cancelTagEdit) {
        actions.cancelTagEdit = [c, w] { cancelTagEdit(*c, *w); };
    }
    if (!actions.syncTagSelection) {
        actions.syncTagSelection = [c, w] { syncTagSelection(*c, *w); };
    }
}

} // namespace tavrik
