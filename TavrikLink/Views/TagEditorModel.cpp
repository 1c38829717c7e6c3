#include "TavrikLink/Views/TagEditorModel.hpp"

#include "TavrikLink/Controller/TavrikBleCentral.hpp"
#include "TavrikLink/Views/TagPaneModel.hpp"

namespace tavrik {

namespace {

bool isCreate(const std::optional<ContentViewPresenter::TagEditorMode>& mode)
{
    return mode && std::holds_alternative<ContentViewPresenter::TagEditorCreate>(*mode);
}

} // namespace

TagEditorModel::TagEditorModel(TavrikBleCentral& controller, ContentViewPresenter& window, QObject* parent)
    : QObject(parent)
    , controller(controller)
    , window(window)
{
    connect(&window, &ContentViewPresenter::changed, this, &TagEditorModel::changed);
    connect(&controller, &TavrikBleCentral::tagsChanged, this, &TagEditorModel::changed);
    connect(&controller, &TavrikBleCentral::tagScanResultChanged, this, &TagEditorModel::changed);
    connect(&controller, &TavrikBleCentral::tagScanStateChanged, this, &TagEditorModel::changed);
}

TagEditorModel::Layout TagEditorModel::layout() const
{
    return isCreate(window.state().tagMode) ? Layout::create : Layout::rename;
}

TagEditorModel::CreateContent TagEditorModel::createContent() const
{
    if (uid().empty()) {
        return CreateContent::awaitingScan;
    }
    return duplicateName() ? CreateContent::alreadySaved : CreateContent::nameEntry;
}

std::string TagEditorModel::title() const
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

const std::string& TagEditorModel::name() const
{
    return window.state().tagDraftName;
}

const std::string& TagEditorModel::uid() const
{
    return window.state().tagDraftUid;
}

std::string TagEditorModel::uidText() const
{
    return uid().empty() ? std::string("UID: No UID scanned") : "UID: " + uid();
}

std::optional<std::string> TagEditorModel::nameValidationMessage() const
{
    return TagPaneModel::tagDraftValidationMessage(controller.tags(), window.state());
}

std::optional<std::string> TagEditorModel::duplicateName() const
{
    return duplicateName(window.state().tagMode, uid(), controller.tagScanResult());
}

std::string TagEditorModel::alreadySavedText() const
{
    return "This tag is currently saved as \"" + duplicateName().value_or(std::string()) + "\".";
}

bool TagEditorModel::showsSave() const
{
    return layout() == Layout::rename || (!uid().empty() && !duplicateName());
}

bool TagEditorModel::canSave() const
{
    return canSave(window.state().tagMode, name(), uid(), duplicateName(), nameValidationMessage());
}

bool TagEditorModel::wantsNameFocus() const
{
    return layout() == Layout::create && createContent() == CreateContent::nameEntry;
}

void TagEditorModel::editName(const std::string& name)
{
    window.modify([&](ContentViewPresenter::State& state) { state.tagDraftName = name; });
}

void TagEditorModel::save()
{
    TagPaneModel::handleTagSave(controller, window);
}

void TagEditorModel::cancel()
{
    TagPaneModel::cancelTagEdit(controller, window);
}

std::optional<std::string> TagEditorModel::duplicateName(const std::optional<ContentViewPresenter::TagEditorMode>& mode,
    const std::string& uid, const std::optional<TagScanResult>& scanResult)
{
    if (!isCreate(mode) || !scanResult || scanResult->uid != uid || !scanResult->name || scanResult->name->empty()) {
        return std::nullopt;
    }
    return scanResult->name;
}

bool TagEditorModel::canSave(const std::optional<ContentViewPresenter::TagEditorMode>& mode, const std::string& name,
    const std::string& uid, const std::optional<std::string>& duplicateName,
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
