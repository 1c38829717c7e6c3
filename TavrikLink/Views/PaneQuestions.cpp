#include "TavrikLink/Views/PaneQuestions.hpp"

#include <algorithm>
#include <utility>

namespace tavrik {

PaneQuestions::PaneQuestions(WindowAlertQueue& queue)
    : queue(queue)
{
}

PaneQuestions::~PaneQuestions()
{
    for (const std::string& key : asked) {
        queue.withdraw(key);
    }
}

void PaneQuestions::askCarefully(std::string key, std::string title, std::string message, std::string confirm,
    std::string cancel, std::function<void()> onConfirm, std::function<void()> onCancel, WindowAlertQueue::Kind kind)
{
    using Role = WindowAlertQueue::Button::Role;
    // Questions answered since are no longer this pane's to take back.
    std::erase_if(asked, [this](const std::string& earlier) { return !queue.contains(earlier); });
    if (std::find(asked.begin(), asked.end(), key) == asked.end()) {
        asked.push_back(key);
    }
    queue.raise({ std::move(key), std::move(title), std::move(message),
        { { std::move(confirm), Role::destructive, std::move(onConfirm) },
            { std::move(cancel), Role::cancel, std::move(onCancel) } },
        kind });
}

void PaneQuestions::withdraw(const std::string& key)
{
    std::erase(asked, key);
    queue.withdraw(key);
}

} // namespace tavrik
