#pragma once

#include "TavrikCore/Model/TagModels.hpp"
#include "TavrikLink/Views/ContentViewPresenter.hpp"

#include <QObject>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

class TavrikBleCentral;

// The tag editor sheet: a new tag named after the device has read it, or a tag renamed. Its name
// and UID are the window's tagDraftName and tagDraftUid.
class TagEditorPresenter : public QObject {
    Q_OBJECT
public:
    enum class Layout { create, rename };
    // What the create layout shows above its buttons.
    enum class CreateContent { awaitingScan, alreadySaved, nameEntry };

    static constexpr std::string_view awaitingScanText = "Use Tavrik to scan a tag";
    static constexpr std::string_view alreadySavedTitle = "Tag already saved";
    static constexpr std::string_view renameSubtitle = "Tag identifier stored on Tavrik";

    // What the sheet reads of the controller.
    struct Inputs {
        std::vector<TagInfo> tags;
        std::optional<TagScanResult> tagScanResult;
        bool operator==(const Inputs&) const = default;
    };
    // The controller operations it calls.
    struct Operations {
        std::function<void()> save;
        std::function<void()> cancel;
    };

    // Shows `inputs` until observe() is given others.
    TagEditorPresenter(ContentViewPresenter& window, Inputs inputs, Operations operations, QObject* parent = nullptr);
    // The sheet of the app's controller; observes its tag changes.
    TagEditorPresenter(TavrikBleCentral& controller, ContentViewPresenter& window, QObject* parent = nullptr);

    static Inputs read(const TavrikBleCentral& controller);
    static Operations operations(TavrikBleCentral& controller, ContentViewPresenter& window);

    // The controller's tags or scan result as they are now; the sheet redraws only when they changed.
    void observe(Inputs inputs);
    const Inputs& inputs() const { return observed; }

    Layout layout() const;
    CreateContent createContent() const;
    // The rename layout's title.
    std::string title() const;
    const std::string& name() const;
    const std::string& uid() const;
    // "UID: " and the UID, or "UID: No UID scanned".
    std::string uidText() const;
    std::optional<std::string> nameValidationMessage() const;
    // The saved name the device reported with the scanned UID (create mode only).
    std::optional<std::string> duplicateName() const;
    // "This tag is currently saved as "<name>".
    std::string alreadySavedText() const;
    bool showsSave() const;
    bool canSave() const;
    // True when the name field should take the keyboard focus (create layout, a UID, no duplicate).
    bool wantsNameFocus() const;

    void editName(const std::string& name);
    void save();
    void cancel();

    // Rules on plain values.
    static std::optional<std::string> duplicateName(const std::optional<ContentViewPresenter::TagEditorMode>& mode,
        const std::string& uid, const std::optional<TagScanResult>& scanResult);
    static bool canSave(const std::optional<ContentViewPresenter::TagEditorMode>& mode, const std::string& name,
        const std::string& uid, const std::optional<std::string>& duplicateName,
        const std::optional<std::string>& nameValidationMessage);

signals:
    void changed();

private:
    ContentViewPresenter& window;
    Inputs observed;
    Operations ops;
};

} // namespace tavrik
