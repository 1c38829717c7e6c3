#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tavrik {

class ContentViewPresenter;
class TagPanePresenter;
class TavrikBleCentral;
class ValidatedField;

// The tag pane: the controller's tag error, then the selected tag's name and UID fields and its
// delete button, or a prompt when no tag is selected.
class TagPaneView : public QWidget {
    Q_OBJECT
public:
    TagPaneView(TavrikBleCentral& controller, ContentViewPresenter& window, QWidget* parent = nullptr);

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
