#pragma once

#include "TavrikLink/Views/WindowAlertQueue.hpp"

#include <functional>
#include <string>
#include <vector>

namespace tavrik {

// A pane's questions (delete this, remove that), asked through the window's one alert queue so that
// they wait their turn with every other alert and look like them. Questions still waiting when the
// pane goes away are taken back: no answer ever reaches a pane that no longer exists.
class PaneQuestions {
public:
    explicit PaneQuestions(WindowAlertQueue& queue);
    ~PaneQuestions();
    PaneQuestions(const PaneQuestions&) = delete;
    PaneQuestions& operator=(const PaneQuestions&) = delete;

    // A question whose yes cannot be taken back: `confirm` is the destructive button, so Return and
    // Escape answer with `cancel` and only a deliberate press of `confirm` runs `onConfirm`. Asking
    // again while the same `key` waits does nothing.
    void askCarefully(std::string key, std::string title, std::string message, std::string confirm, std::string cancel,
        std::function<void()> onConfirm, std::function<void()> onCancel = {},
        WindowAlertQueue::Kind kind = WindowAlertQueue::Kind::warning);
    void withdraw(const std::string& key);
    bool asking(const std::string& key) const { return queue.contains(key); }

private:
    WindowAlertQueue& queue;
    std::vector<std::string> asked;
};

} // namespace tavrik
