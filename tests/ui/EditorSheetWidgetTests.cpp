#include "TavrikLink/Ui/GroupEditorSheet.hpp"
#include "TavrikLink/Ui/StepEditorSheet.hpp"
#include "TavrikLink/Views/GroupEditorSheetPresenter.hpp"
#include "TavrikLink/Views/StepEditorSheetPresenter.hpp"
#include "tests/ui/UiShots.hpp"

#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace tavrik::test {
namespace {

// Space under a widget down to the sheet's bottom edge.
int bandBelow(const QWidget* widget, const QWidget* sheet)
{
    return sheet->height() - widget->mapTo(sheet, QPoint(0, widget->height())).y();
}

// The height the sheet's content asks for at its present width.
int naturalHeight(const QWidget* sheet)
{
    QLayout* layout = sheet->layout();
    return layout->hasHeightForWidth() ? layout->totalHeightForWidth(sheet->width()) : layout->totalSizeHint().height();
}

// Every line of a wrapping label is on screen: its height fits its text at its width.
bool showsAllLines(const QLabel* label)
{
    return label->isVisible() && label->height() >= label->heightForWidth(label->width());
}

struct GroupSheetTest : ::testing::Test {
    GroupSheetTest()
    {
        sheet.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&sheet));
        QCoreApplication::processEvents();
    }

    template <class T>
    T* find(const char* name)
    {
        auto* widget = sheet.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    int closes = 0;
    GroupEditorSheetPresenter presenter { RoutineGroupDraft(Uuid::make(), 5, 0, "", RoutineGroupMode::timebox, 600),
        [this] { ++closes; }, {} };
    GroupEditorSheet sheet { presenter };
};

TEST_F(GroupSheetTest, FollowsItsContentAsMessagesAndModesComeAndGo)
{
    auto* description = find<QLabel>("groupModeDescription");
    const int margin = sheet.layout()->contentsMargins().bottom();
    ASSERT_TRUE(showsAllLines(description));

    // The name message pushes the description down; the sheet grows instead of cutting it.
    find<QPushButton>("doneButton")->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(find<QLabel>("validationMessage")->isVisible());
    EXPECT_TRUE(showsAllLines(description));
    EXPECT_LE(bandBelow(description, &sheet), margin + 2);
    saveUiShot(&sheet, QStringLiteral("group-sheet-message"));

    // Rotation hides the time limit; the sheet shrinks instead of keeping a blank band.
    auto* mode = find<QComboBox>("groupModePicker");
    mode->setCurrentIndex(1);
    emit mode->activated(1);
    QCoreApplication::processEvents();
    EXPECT_EQ(presenter.group().mode, RoutineGroupMode::rotation);
    EXPECT_TRUE(showsAllLines(description));
    EXPECT_LE(bandBelow(description, &sheet), margin + 2);
    EXPECT_LE(sheet.height(), naturalHeight(&sheet));
    saveUiShot(&sheet, QStringLiteral("group-sheet-rotation"));
    EXPECT_EQ(closes, 0);
}

TEST_F(GroupSheetTest, ReturnInTheDurationFieldCommitsTheTimeLimitButLeavesTheSheetOpen)
{
    auto* duration = find<QLineEdit>("durationField");
    duration->setFocus();
    duration->selectAll();
    QTest::keyClicks(duration, QStringLiteral("5"));
    QTest::keyClick(duration, Qt::Key_Return);
    EXPECT_EQ(duration->text(), QStringLiteral("5:00"));
    EXPECT_EQ(presenter.group().timeLimitSeconds, 300);
    EXPECT_EQ(closes, 0);
    EXPECT_FALSE(presenter.attemptedSave()) << "Done was not pressed";

    // Elsewhere Return is still the sheet's Done.
    auto* name = find<QLineEdit>("groupNameField");
    QTest::keyClicks(name, QStringLiteral("Chores"));
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(closes, 1);
}

TEST(StepSheetTest, TheInstructionBoxGrowsWithItsText)
{
    RoutineStepDraft step;
    step.seconds = 60;
    StepEditorSheetPresenter presenter(step, {}, {}, {}, false);
    StepEditorSheet sheet(presenter);
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    auto* instruction = sheet.findChild<QPlainTextEdit*>(QStringLiteral("instructionField"));
    ASSERT_NE(instruction, nullptr);
    const int oneLine = instruction->height();
    const int sheetHeight = sheet.height();

    QTest::keyClicks(instruction, QStringLiteral("Fill the kettle"));
    for (int line = 0; line < 5; ++line) {
        QTest::keyClick(instruction, Qt::Key_Return);
        QTest::keyClicks(instruction, QStringLiteral("and then the next thing"));
    }
    QCoreApplication::processEvents();
    const int lineHeight = instruction->fontMetrics().lineSpacing();
    EXPECT_GE(instruction->height(), oneLine + 4 * lineHeight);
    EXPECT_GT(sheet.height(), sheetHeight) << "the sheet makes room for the taller box";
    saveUiShot(&sheet, QStringLiteral("step-sheet-long-instruction"));
    EXPECT_EQ(presenter.step().instruction.find("Fill the kettle"), 0u);
}

} // namespace
} // namespace tavrik::test
