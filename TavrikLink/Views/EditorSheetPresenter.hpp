#pragma once

#include <QObject>

#include <functional>

namespace tavrik {

// What the routine editor's detail sheets share: the host's close and delete actions, and the one
// way to close. Done marks the first attempt (messages show from then on) and closes only when the
// sheet's content is acceptable; Escape and the window's close button never close it.
class EditorSheetPresenter : public QObject {
    Q_OBJECT

public:
    bool attemptedSave() const { return m_attemptedSave; }

    void done();
    // Escape or the close button: the sheet stays. Returns whether it may close (never).
    bool requestDismiss() const { return false; }

signals:
    void changed();

protected:
    EditorSheetPresenter(std::function<void()> onClose, std::function<void()> onDelete, QObject* parent);

    // Whether Done may close the sheet; it may tidy the content first.
    virtual bool acceptForClose() = 0;
    void remove();

private:
    std::function<void()> m_onClose;
    std::function<void()> m_onDelete;
    bool m_attemptedSave = false;
};

} // namespace tavrik
