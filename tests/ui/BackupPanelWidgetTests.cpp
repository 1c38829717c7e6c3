#include "TavrikLink/Ui/QtBackupFilePanel.hpp"
#include "TavrikLink/Views/BackupFileActions.hpp"
#include "TavrikLink/Views/LegacyUpgradeState.hpp"
#include "tests/support/qt/QtTestSupport.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

namespace tavrik {
namespace {

// Runs `answer` on the dialog that the panel opens, as soon as it is on screen.
void whenDialogOpens(std::function<void(QFileDialog&)> answer)
{
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            ADD_FAILURE() << "no file dialog";
            QApplication::activeModalWidget()->close();
            return;
        }
        answer(*dialog);
    });
}

TEST(QtBackupFilePanelTests, SaveDialogProposesTheNameAndKeepsToJson)
{
    QTemporaryDir folder;
    QtBackupFilePanel panel;
    whenDialogOpens([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog.nameFilters(), QStringList { "JSON (*.json)" });
        EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("json"));
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Export all restorable Tavrik data."));
        dialog.setDirectory(folder.path());
        dialog.selectFile(folder.filePath("mine"));
        static_cast<QDialog&>(dialog).accept();
    });
    const auto chosen = panel.chooseSaveLocation({ "tavrik-data.json", "Export all restorable Tavrik data." });
    ASSERT_TRUE(chosen);
    EXPECT_EQ(*chosen, folder.filePath("mine.json"));
}

TEST(QtBackupFilePanelTests, WithoutADocumentsFolderTheDialogsStartAtHomeWithNoNameFilledIn)
{
    QTemporaryDir home;
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(".config")));
    QtBackupFilePanel panel;
    for (const bool open : { true, false }) {
        SCOPED_TRACE(open ? "open" : "save");
        whenDialogOpens([&](QFileDialog& dialog) {
            EXPECT_EQ(QDir(dialog.directory()).absolutePath(), QDir(home.path()).absolutePath());
            if (open) {
                auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                ASSERT_NE(name, nullptr);
                EXPECT_EQ(name->text(), QString());
            }
            dialog.reject();
        });
        if (open) {
            panel.chooseFileToOpen({ "Choose a Tavrik data export." });
        } else {
            panel.chooseSaveLocation({ "tavrik-data.json", "Export all restorable Tavrik data." });
        }
    }
    qputenv("HOME", savedHome);
    qputenv("XDG_CONFIG_HOME", savedConfig);
}

TEST(QtBackupFilePanelTests, OpenDialogTakesOneExistingFileAndCancelGivesNone)
{
    QtBackupFilePanel panel;
    whenDialogOpens([](QFileDialog& dialog) {
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(dialog.nameFilters(), QStringList { "JSON (*.json)" });
        dialog.reject();
    });
    EXPECT_EQ(panel.chooseFileToOpen({ "Choose a Tavrik data export." }), std::nullopt);
}

} // namespace
} // namespace tavrik
