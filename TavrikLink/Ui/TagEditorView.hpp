#pragma once

#include <QWidget>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tavrik {

class TagEditorPresenter;
class ValidatedField;

// The tag editor sheet's content: a scanned tag being named (create), or a tag being renamed.
class TagEditorView : public QWidget {
    Q_OBJECT
public:
    // Shows the given presenter, which it takes over.
    explicit TagEditorView(TagEditorPresenter* presenter, QWidget* parent = nullptr);

    TagEditorPresenter& model() const { return *editor; }
    QLineEdit* nameField() const { return name; }
    QLabel* uidLabel() const { return uid; }
    QPushButton* saveButton() const { return save; }
    QPushButton* cancelButton() const { return cancel; }

private:
    void redraw();

    TagEditorPresenter* editor;
    QLabel* title;
    QLabel* subtitle;
    QLabel* awaiting;
    QLabel* savedTitle;
    QLabel* savedText;
    QLineEdit* name;
    ValidatedField* nameField_;
    QLabel* uid;
    QPushButton* cancel;
    QPushButton* save;
    bool hadNameFocusWish = false;
    std::string focusedForUid;
};

} // namespace tavrik
