#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace tavrik::text {

// Orders texts as the user's locale sorts them, without regard to case (accents still count).
// Cheap to copy. Meant for a stable sort: equal texts compare neither less nor greater.
class LocalizedCaseInsensitiveOrder {
public:
    // An ICU locale id such as "en_US" or "sv_SE"; an unknown one falls back to the root order.
    explicit LocalizedCaseInsensitiveOrder(std::string_view localeId);

    // Negative, zero or positive as left sorts before, with or after right.
    int compare(std::string_view left, std::string_view right) const;
    bool operator()(std::string_view left, std::string_view right) const { return compare(left, right) < 0; }

private:
    struct State;
    // Shared so that copies (sort algorithms copy their comparator) reuse one collator.
    std::shared_ptr<const State> state;
};

} // namespace tavrik::text
