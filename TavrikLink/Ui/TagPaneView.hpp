#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tavrik {

class TagPanePresenter;
class ValidatedField;

// The tag pane: the controller's tag error, then the selected tag's name and UID fields and its
// delete button, or a prompt when no tag is selected.
class TagPaneView : public QWidget {
    Q_OBJECT
public:
    // Shows the given presenter, which it takes over.
    explicit TagPaneView(TagPanePresenter* presenter, QWidget* parent = nullptr);

    TagPanePresenter& model() const { return *pane; }
    QLineEdit* nameField() const { return name; }
    QLineEdit* uidField() const { return uid; }
    QPushButton* deleteButton() const { return remove; }

private:
    void redraw();

    TagPanePresenter* pane;
    QLabel* error;
    QLabel* prompt;
    QWidget* form;
    QLineEdit* name;
    QLineEdit* uid;
    ValidatedField* nameField_;
    ValidatedField* uidField_;
    QPushButton* remove;
};

} // namespace tavrik
