#pragma once

#include <QModelIndex>
#include <QWidget>

class QListView;
class QToolButton;

namespace tavrik {

class ContentViewPresenter;
class LogDrawerModel;

// The resizable log panel on the window's trailing side: a handle on its leading edge, a clear
// button and the log, newest line at the bottom and kept in view. Lines are monospaced and wrap at
// the drawer's width; lines can be selected and copied, and a data-channel line opens to show its
// record.
class LogDrawerView : public QWidget {
    Q_OBJECT
public:
    LogDrawerView(ContentViewPresenter& window, LogDrawerModel& model, QWidget* parent = nullptr);

    QListView* list() const { return listView; }
    // The width the drawer asks for; the panes give it up to that much, never the window.
    void setPreferredWidth(int width);
    QSize sizeHint() const override;
    QToolButton* clearButton() const { return clear; }
    // The selected lines as text, one a line (what Copy puts on the clipboard).
    QString selectedText() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void refresh();
    void toggleRecord(const QModelIndex& index);
    void scrollToNewest();

    ContentViewPresenter& window;
    LogDrawerModel& model;
    QListView* listView = nullptr;
    QToolButton* clear = nullptr;
    int preferredWidth = 360;
};

} // namespace tavrik
