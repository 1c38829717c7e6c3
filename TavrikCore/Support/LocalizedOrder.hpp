#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class Collator;
U_NAMESPACE_END

namespace tavrik {

// Orders texts as the user's locale sorts them, without regard to case (accents still count).
// Building a collator is costly: make one order and use it for a whole sort.
class LocalizedCaseInsensitiveOrder {
public:
    explicit LocalizedCaseInsensitiveOrder(const std::string& localeId);
    ~LocalizedCaseInsensitiveOrder();
    LocalizedCaseInsensitiveOrder(LocalizedCaseInsensitiveOrder&&) noexcept;
    LocalizedCaseInsensitiveOrder& operator=(LocalizedCaseInsensitiveOrder&&) noexcept;

    // Negative, zero or positive as `left` sorts before, with or after `right`.
    int compare(std::string_view left, std::string_view right) const;
    bool operator()(std::string_view left, std::string_view right) const { return compare(left, right) < 0; }
    // compare() is compareFolded() of the folded texts (lhs, rhs): a sort folds each text once.
    static std::string folded(std::string_view text);
    int compareFolded(std::string_view lhs, std::string_view rhs) const;

private:
    std::unique_ptr<icu::Collator> collator;
};

} // namespace tavrik
