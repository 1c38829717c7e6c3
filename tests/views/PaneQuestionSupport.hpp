#pragma once

#include "TavrikLink/Views/WindowAlertQueue.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrik::test {

// What a pane's question must be in the window's queue: its texts and icon, a destructive confirm
// button, and a cancel button that Return and Escape both press.
struct AskedQuestion {
    std::string title;
    std::string message;
    std::string confirm;
    std::string cancel;
    WindowAlertQueue::Kind kind = WindowAlertQueue::Kind::warning;
};

inline void expectAsked(const WindowAlertQueue& queue, const AskedQuestion& expected)
{
    using Role = WindowAlertQueue::Button::Role;
    const WindowAlertQueue::Alert* shown = queue.current();
    ASSERT_NE(shown, nullptr) << expected.title;
    EXPECT_EQ(shown->title, expected.title);
    EXPECT_EQ(shown->message, expected.message);
    EXPECT_EQ(shown->kind, expected.kind);
    ASSERT_EQ(shown->buttons.size(), 2u);
    EXPECT_EQ(shown->buttons[0].text, expected.confirm);
    EXPECT_EQ(shown->buttons[0].role, Role::destructive);
    EXPECT_EQ(shown->buttons[1].text, expected.cancel);
    EXPECT_EQ(shown->buttons[1].role, Role::cancel);
    EXPECT_EQ(WindowAlertQueue::defaultButton(*shown), 1u) << "Return must not do the deed";
}

// Presses the shown alert's button of that text.
inline void answerWith(WindowAlertQueue& queue, const std::string& text)
{
    const WindowAlertQueue::Alert* shown = queue.current();
    ASSERT_NE(shown, nullptr);
    for (std::size_t index = 0; index < shown->buttons.size(); ++index) {
        if (shown->buttons[index].text == text) {
            queue.answer(index);
            return;
        }
    }
    FAIL() << "no button " << text;
}

} // namespace tavrik::test
