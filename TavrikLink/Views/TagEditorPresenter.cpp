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

TagEditorPresenter::TagEditorPresenter(ContentViewPresenter& window, Inputs inputs, Operations operations, QObject* parent)
    : QObject(parent)
    , window(window)
    , observed(std::move(inputs))
    , ops(std::move(operations))
{
    connect(&window, &ContentViewPresenter::changed, this, &TagEditorPresenter::changed);
}

TagEditorPresenter::TagEditorPresenter(TavrikBleCentral& controller, ContentViewPresenter& window, QObject* parent)
    : TagEditorPresenter(window, read(controller), operations(controller, window), parent)
{
    for (auto signal : { &TavrikBleCentral::tagsChanged, &TavrikBleCentral::tagScanResultChanged }) {
        connect(&controller, signal, this, [this, &controller] { observe(read(controller)); });
    }
}

TagEditorPresenter::Inputs TagEditorPresenter::read(const TavrikBleCentral& controller)
{
    return { controller.tags(), controller.tagScanResult() };
}

TagEditorPresenter::Operations TagEditorPresenter::operations(TavrikBleCentral& controller, ContentViewPresenter& window)
{
    TavrikBleCentral* c = &controller;
    ContentViewPresenter* w = &window;
    return { [c, w] { TagPanePresenter::handleTagSave(*c, *w); }, [c, w] { TagPanePresenter::cancelTagEdit(*c, *w); } };
}

void TagEditorPresenter::observe(Inputs inputs)
{
    if (inputs == observed) {
        return;
    }
    observed = std::move(inputs);
    emit changed();
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
    return TagPanePresenter::tagDraftValidationMessage(observed.tags, window.state());
}

std::optional<std::string> TagEditorPresenter::duplicateName() const
{
    return duplicateName(window.state().tagMode, uid(), observed.tagScanResult);
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
    if (ops.save) {
        ops.save();
    }
}

void TagEditorPresenter::cancel()
{
    if (ops.cancel) {
        ops.cancel();
    }
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
