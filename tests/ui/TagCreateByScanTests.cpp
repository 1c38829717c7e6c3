#include "TavrikLink/Ui/ContentView.hpp"
#include "TavrikLink/Ui/SidebarView.hpp"
#include "TavrikLink/Ui/TagEditorView.hpp"
#include "TavrikLink/Ui/TagPaneView.hpp"
#include "TavrikLink/Ui/TavrikLinkApplication.hpp"
#include "TavrikLink/Ui/TavrikLinkMainWindow.hpp"
#include "TavrikLink/Views/SidebarPresenter.hpp"
#include "tests/ui/WindowTestSupport.hpp"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace tavrik::test {
namespace {

// The real window over a real controller and a fake Tavrik that answers a tag scan.
class TagCreateByScanTest : public WindowTest {
protected:
    void SetUp() override
    {
        FakeTavrik& tavrik = addDevice();
        tavrik.data.tags = { { 3, "04 1A 22 33", "Kitchen" }, { 5, "04 AA BB CC", "Desk" } };
        openWindow();
        ASSERT_TRUE(controller->hasLoadedData());
    }

    // Lets the controller connect and the device answer.
    void run()
    {
        scheduler.advance(std::chrono::seconds(1));
        settle();
        QCoreApplication::processEvents();
        settle();
    }

    void activate(const std::string& label)
    {
        const auto& rows = view().sidebar()->rows();
        const auto found = std::find_if(rows.begin(), rows.end(), [&](const auto& row) { return row.label == label; });
        ASSERT_NE(found, rows.end()) << label;
        view().sidebar()->activateRow(static_cast<int>(found - rows.begin()));
        run();
    }

    TagPaneView* pane() { return qobject_cast<TagPaneView*>(view().detailPane()); }

    // The open tag sheet; a closed one may wait for its deletion.
    QDialog* sheet()
    {
        for (QDialog* dialog : view().findChildren<QDialog*>(QStringLiteral("tagEditorSheet"))) {
            if (dialog->isVisible()) {
                return dialog;
            }
        }
        return nullptr;
    }

    TagEditorView* editor()
    {
        QDialog* dialog = sheet();
        return dialog ? dialog->findChild<TagEditorView*>() : nullptr;
    }

    // With TAVRIK_UI_SHOTS set to a folder, keeps pictures of the window and the sheet there.
    void saveShot(const QString& name)
    {
        const QString folder = qEnvironmentVariable("TAVRIK_UI_SHOTS");
        if (folder.isEmpty()) {
            return;
        }
        QCoreApplication::processEvents();
        app->mainWindow().grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
        if (QDialog* dialog = sheet()) {
            dialog->grab().save(folder + QLatin1Char('/') + name + QStringLiteral("-sheet.png"));
        }
    }
};

TEST_F(TagCreateByScanTest, AScannedTagIsNamedAndSavedWhileTheSelectedTagKeepsItsUid)
{
    activate("Desk");
    ASSERT_NE(pane(), nullptr);
    EXPECT_EQ(pane()->uidField()->text(), "04 AA BB CC");
    EXPECT_EQ(pane()->nameField()->text(), "Desk");

    activate("Add Tag");
    EXPECT_EQ(editor(), nullptr) << "the sheet waits for the device";
    device->send({ { "type", "scan_pending" } });
    run();
    ASSERT_NE(editor(), nullptr) << "the device's pending answer opens the sheet";
    EXPECT_TRUE(editor()->findChild<QLabel*>(QStringLiteral("tagEditorAwaitingScan"))->isVisible());
    EXPECT_FALSE(editor()->saveButton()->isVisible());
    saveShot(QStringLiteral("tag-create-waiting"));

    device->send({ { "type", "scan_result" }, { "uid", "04 CA FE" }, { "tagType", "NTAG215" } });
    run();
    ASSERT_NE(editor(), nullptr);
    EXPECT_EQ(editor()->uidLabel()->text(), "UID: 04 CA FE");
    EXPECT_TRUE(editor()->nameField()->isVisible());
    EXPECT_FALSE(editor()->saveButton()->isEnabled()) << "a name is needed";
    ASSERT_NE(pane(), nullptr);
    EXPECT_EQ(pane()->uidField()->text(), "04 AA BB CC") << "the scan does not reach the selected tag's field";

    QTest::keyClicks(editor()->nameField(), "desk");
    EXPECT_EQ(
        editor()->nameField()->parentWidget()->findChild<QLabel*>()->text(), "A tag with this title already exists.");
    EXPECT_FALSE(editor()->saveButton()->isEnabled());
    editor()->nameField()->clear();
    QTest::keyClicks(editor()->nameField(), "Garage");
    EXPECT_TRUE(editor()->saveButton()->isEnabled());
    saveShot(QStringLiteral("tag-create-named"));
    QTest::mouseClick(editor()->saveButton(), Qt::LeftButton);
    run();

    EXPECT_EQ(sheet(), nullptr);
    EXPECT_FALSE(controller->tagScanSessionActive());
    EXPECT_EQ(controller->tags(),
        (std::vector<TagInfo> {
            { 3, "04 1A 22 33", "Kitchen" }, { 5, "04 AA BB CC", "Desk" }, { 6, "04 CA FE", "Garage" } }));
    ASSERT_NE(pane(), nullptr);
    EXPECT_EQ(pane()->uidField()->text(), "04 AA BB CC");
    scheduler.advance(std::chrono::milliseconds(500));
    run();
    const auto sent = device->receivedCommands();
    EXPECT_NE(std::find(sent.begin(), sent.end(), "tag:create id=6 uid=\"04 CA FE\" name=\"Garage\""), sent.end());
    EXPECT_EQ(
        std::count_if(sent.begin(), sent.end(), [](const std::string& text) { return text.starts_with("tag:update"); }),
        0);
}

TEST_F(TagCreateByScanTest, ATagTheDeviceAlreadyKnowsOffersOnlyCancelWhichEndsTheScan)
{
    activate("Kitchen");
    activate("Add Tag");
    device->send({ { "type", "scan_result" }, { "uid", "04 1A 22 33" }, { "name", "Kitchen" } });
    run();
    ASSERT_NE(editor(), nullptr);
    EXPECT_EQ(editor()->findChild<QLabel*>(QStringLiteral("tagEditorAlreadySaved"))->text(),
        "This tag is currently saved as \"Kitchen\".");
    EXPECT_FALSE(editor()->saveButton()->isVisible());
    EXPECT_FALSE(editor()->nameField()->isVisible());
    saveShot(QStringLiteral("tag-create-already-saved"));

    QTest::mouseClick(editor()->cancelButton(), Qt::LeftButton);
    run();
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_FALSE(controller->tagScanSessionActive());
    EXPECT_FALSE(controller->tagScanResult().has_value());
    EXPECT_EQ(pane()->uidField()->text(), "04 1A 22 33");
}

TEST_F(TagCreateByScanTest, PaneEditsGoToTheDeviceAndInvalidOnesShowTheirMessage)
{
    activate("Desk");
    ASSERT_NE(pane(), nullptr);
    // Filled fields still say what they hold.
    for (QLineEdit* field : { pane()->nameField(), pane()->uidField() }) {
        const auto labels = pane()->findChildren<QLabel*>();
        const auto title
            = std::find_if(labels.begin(), labels.end(), [&](const QLabel* label) { return label->buddy() == field; });
        ASSERT_NE(title, labels.end()) << field->objectName().toStdString();
        EXPECT_TRUE((*title)->isVisible());
        EXPECT_EQ((*title)->text(), field->accessibleName());
    }
    QLineEdit* uid = pane()->uidField();
    uid->selectAll();
    QTest::keyClick(uid, Qt::Key_Backspace);
    auto* uidMessage = uid->parentWidget()->findChild<QLabel*>();
    EXPECT_EQ(uidMessage->text(), "UID is required.");
    EXPECT_TRUE(uidMessage->isVisible());
    QTest::keyClicks(uid, "04 1a 22 33");
    EXPECT_EQ(uidMessage->text(), "A tag with this UID already exists.");
    saveShot(QStringLiteral("tag-pane-invalid-uid"));
    // Leaving the field with a UID that cannot be saved shows the saved one again: the last text
    // typed on the way that could be saved.
    QTest::keyClick(uid, Qt::Key_Return);
    EXPECT_EQ(controller->tags()[1].uid, "04 1a 22 3");
    EXPECT_EQ(uid->text(), "04 1a 22 3");
    EXPECT_FALSE(uidMessage->isVisible());
    uid->clear();
    QTest::keyClicks(uid, "04 BE EF");
    EXPECT_FALSE(uidMessage->isVisible());
    EXPECT_EQ(uid->text(), "04 BE EF") << "typing is never rewritten by the list's echo";

    QLineEdit* name = pane()->nameField();
    name->selectAll();
    QTest::keyClicks(name, "Study");
    scheduler.advance(std::chrono::milliseconds(500));
    run();
    const auto sent = device->receivedCommands();
    EXPECT_NE(std::find(sent.begin(), sent.end(), "tag:update id=5 uid=\"04 BE EF\""), sent.end());
    EXPECT_NE(std::find(sent.begin(), sent.end(), "tag:update id=5 name=\"Study\""), sent.end());
    EXPECT_EQ(controller->tags()[1], (TagInfo { 5, "04 BE EF", "Study" }));
}

// Typing at about four keys a second while the device answers each edit a moment later with its
// whole tag list: every key reaches the device, and no answer rewrites the field or moves the cursor.
TEST_F(TagCreateByScanTest, TypingAtAnOrdinaryPaceSavesExactlyWhatWasTyped)
{
    device->answerCommand = [this](const std::string& channel, const std::string& command) {
        if (channel == "tag" && command.starts_with("update id=5 ")) {
            TagInfo& tag = device->data.tags.at(1);
            const auto value = [&](const std::string& name) -> std::optional<std::string> {
                const std::size_t at = command.find(" " + name + "=\"");
                if (at == std::string::npos) {
                    return std::nullopt;
                }
                const std::string quoted = command.substr(at + name.size() + 3);
                return quoted.substr(0, quoted.size() - 1);
            };
            tag.name = value("name").value_or(tag.name);
            tag.uid = value("uid").value_or(tag.uid);
            Json tags = Json::array();
            for (const TagInfo& each : device->data.tags) {
                tags.push_back(toJson(each));
            }
            scheduler.schedule(std::chrono::milliseconds(300), [this, tags] {
                device->send({ { "type", "tags_state" }, { "tags", tags } });
            });
        }
        return std::vector<Json> {};
    };
    activate("Desk");
    ASSERT_NE(pane(), nullptr);
    const auto typeSlowly = [&](QLineEdit* field, const std::string& typed) {
        field->setFocus();
        field->selectAll();
        for (const char key : typed) {
            QTest::keyClick(field, key);
            const std::string shown = field->text().toStdString();
            scheduler.advance(std::chrono::milliseconds(250));
            QCoreApplication::processEvents();
            EXPECT_EQ(field->text().toStdString(), shown) << "an answer rewrote the field";
            EXPECT_EQ(field->cursorPosition(), field->text().size()) << "an answer moved the cursor";
        }
        run();
    };
    const struct {
        const char* what;
        QLineEdit* field;
        std::string typed;
        std::function<std::string(const TagInfo&)> saved;
    } cases[] = {
        { "name", pane()->nameField(), "X0123456789", [](const TagInfo& tag) { return tag.name; } },
        { "UID", pane()->uidField(), "04 11 22 33", [](const TagInfo& tag) { return tag.uid; } },
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        typeSlowly(test.field, test.typed);
        EXPECT_EQ(test.saved(device->data.tags.at(1)), test.typed);
        EXPECT_EQ(test.saved(controller->tags().at(1)), test.typed);
        EXPECT_EQ(test.field->text().toStdString(), test.typed);
    }
}

} // namespace
} // namespace tavrik::test
