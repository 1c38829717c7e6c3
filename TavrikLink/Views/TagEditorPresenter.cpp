#include "TavrikLink/Views/TagEditorPresenter.hpp"

#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Views/TagPanePresenter.hpp"

namespace tavrik {

namespace {

bool isCreate(const std::optional<ContentViewPresenter::TagEditorMode>& mode)
{
    return mode && std::holds_alternative<ContentViewPresenter::TagEditorCreate>(*mode);
}

} // namespace

TagEditorPresenter::TagEditorPresenter(TavrikBleCentral& controller, ContentViewPresenter& window, QObject* parent)
    : QObject(parent)
    , controller(controller)
    , window(window)
{
    connect(&window, &ContentViewPresenter::changed, this, &TagEditorPresenter::changed);
    connect(&controller, &TavrikBleCentral::tagsChanged, this, &TagEditorPresenter::changed);
    connect(&controller, &TavrikBleCentral::tagScanResultChanged, this, &TagEditorPresenter::changed);
    connect(&controller, &TavrikBleCentral::tagScanStateChanged, this, &TagEditorPresenter::changed);
}

TagEditorPresenter::Layout TagEditorPresenter::layout() const
{
    return isCreate(window.state().tagMode) ? Layout::create : Layout::rename;
}

TagEditorPresenter::CreateContent TagEditorPresenter::createContent() const
{
    if (uid().empty()) {
        return CreateContent::awaitingScan;
    }
    return duplicateName() ? CreateContent::alreadySaved : CreateContent::nameEntry;
}

std::string TagEditorPresenter::title() const
{
    const auto& mode = window.state().tagMode;
    if (!mode) {
        return "Tag";
    }
    if (const auto* rename = std::get_if<ContentViewPresenter::TagEditorRename>(&*mode)) {
        return "Rename " + rename->tag.name;
    }
    return "Add Tag";
}

const std::string& TagEditorPresenter::name() const
{
    return window.state().tagDraftName;
}

const std::string& TagEditorPresenter::uid() const
{
    return window.state().tagDraftUid;
}

std::string TagEditorPresenter::uidText() const
{
    return uid().empty() ? std::string("UID: No UID scanned") : "UID: " + uid();
}

std::optional<std::string> TagEditorPresenter::nameValidationMessage() const
{
    return TagPanePresenter::tagDraftValidationMessage(controller.tags(), window.state());
}

std::optional<std::string> TagEditorPresenter::duplicateName() const
{
    return duplicateName(window.state().tagMode, uid(), controller.tagScanResult());
}

std::string TagEditorPresenter::alreadySavedText() const
{
    return "This tag is currently saved as \"" + duplicateName().value_or(std::string()) + "\".";
}

bool TagEditorPresenter::showsSave() const
{
    return layout() == Layout::rename || (!uid().empty() && !duplicateName());
}

bool TagEditorPresenter::canSave() const
{
    return canSave(window.state().tagMode, name(), uid(), duplicateName(), nameValidationMessage());
}

bool TagEditorPresenter::wantsNameFocus() const
{
    return layout() == Layout::create && createContent() == CreateContent::nameEntry;
}

void TagEditorPresenter::editName(const std::string& name)
{
    window.modify([&](ContentViewPresenter::State& state) { state.tagDraftName = name; });
}

void TagEditorPresenter::save()
{
    TagPanePresenter::handleTagSave(controller, window);
}

void TagEditorPresenter::cancel()
{
    TagPanePresenter::cancelTagEdit(controller, window);
}

std::optional<std::string> TagEditorPresenter::duplicateName(
    const std::optional<ContentViewPresenter::TagEditorMode>& mode, const std::string& uid,
    const std::optional<TagScanResult>& scanResult)
{
    if (!isCreate(mode) || !scanResult || scanResult->uid != uid || !scanResult->name || scanResult->name->empty()) {
        return std::nullopt;
    }
    return scanResult->name;
}

bool TagEditorPresenter::canSave(const std::optional<ContentViewPresenter::TagEditorMode>& mode,
    const std::string& name, const std::string& uid, const std::optional<std::string>& duplicateName,
    const std::optional<std::string>& nameValidationMessage)
{
    if (!mode) {
        return false;
    }
    if (!isCreate(mode)) {
        return !name.empty() && !nameValidationMessage;
    }
    return !uid.empty() && !name.empty() && !duplicateName && !nameValidationMessage;
}

} // namespace tavrik
