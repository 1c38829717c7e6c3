#pragma once

#include "TavrikLink/Views/ContentViewPresenter.hpp"

#include <QObject>

namespace tavrik {

class LogDrawerModel;
class TavrikBleCentral;

// Connects the window's presenter and log model to the controller: every published change the
// window reacts to is read into the presenter, the log into the model, and the presenter's empty
// actions are pointed at the controller's operations.
class ContentViewBinding : public QObject {
    Q_OBJECT
public:
    ContentViewBinding(
        TavrikBleCentral& controller, ContentViewPresenter& presenter, LogDrawerModel& log, QObject* parent = nullptr);

    static ContentViewPresenter::ControllerState read(const TavrikBleCentral& controller);
    // Fills only the actions that are still empty, so a pane's own action wins.
    static void connectActions(ContentViewPresenter::Actions& actions, TavrikBleCentral& controller);

    void refresh();

private:
    TavrikBleCentral& controller;
    ContentViewPresenter& presenter;
    LogDrawerModel& log;
};

} // namespace tavrik
