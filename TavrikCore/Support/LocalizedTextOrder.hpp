#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

// Orders texts as lists are sorted for a user of the given locale, without regard to case; accents
// and other marks still count. An unknown locale falls back to the root order.
class LocalizedTextOrder {
public:
    explicit LocalizedTextOrder(const std::string& localeId);
    ~LocalizedTextOrder();
    LocalizedTextOrder(LocalizedTextOrder&&) noexcept;
    LocalizedTextOrder& operator=(LocalizedTextOrder&&) noexcept;

    // Negative, 0 or positive as `lhs` sorts before, with or after `rhs`.
    int compare(std::string_view lhs, std::string_view rhs) const;
    bool operator()(std::string_view lhs, std::string_view rhs) const { return compare(lhs, rhs) < 0; }

    // Sorts ascending by the text `key` gives; items with equal texts keep their order.
    template <class Item, class Key>
    void stableSort(std::vector<Item>& items, Key key) const
    {
        std::stable_sort(items.begin(), items.end(),
            [&](const Item& lhs, const Item& rhs) { return compare(key(lhs), key(rhs)) < 0; });
    }

private:
    struct State;
    std::unique_ptr<State> state;
};

} // namespace tavrik
