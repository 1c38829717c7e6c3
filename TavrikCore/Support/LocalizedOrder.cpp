#include "TavrikCore/Support/LocalizedOrder.hpp"

#include "TavrikCore/Support/Text.hpp"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>

#include <string>

namespace tavrik::text {

struct LocalizedCaseInsensitiveOrder::State {
    std::unique_ptr<icu::Collator> collator;
};

LocalizedCaseInsensitiveOrder::LocalizedCaseInsensitiveOrder(std::string_view localeId)
{
    auto made = std::make_shared<State>();
    state = made;
    UErrorCode status = U_ZERO_ERROR;
    const std::string id(localeId);
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(icu::Locale(id.c_str()), status));
    if (U_FAILURE(status) || !collator) {
        return;
    }
    // Secondary strength: base letters and accents count, letter case does not.
    collator->setStrength(icu::Collator::SECONDARY);
    made->collator = std::move(collator);
}

int LocalizedCaseInsensitiveOrder::compare(std::string_view left, std::string_view right) const
{
    // Some tailorings (the POSIX one) rank letter case above everything else; lower-casing first
    // keeps the order case-blind in every locale.
    const std::string lhs = lowercased(left);
    const std::string rhs = lowercased(right);
    if (state->collator) {
        UErrorCode status = U_ZERO_ERROR;
        const UCollationResult result
            = state->collator->compareUTF8(icu::StringPiece(lhs.data(), static_cast<std::int32_t>(lhs.size())),
                icu::StringPiece(rhs.data(), static_cast<std::int32_t>(rhs.size())), status);
        if (U_SUCCESS(status)) {
            return static_cast<int>(result);
        }
    }
    return lhs < rhs ? -1 : (rhs < lhs ? 1 : 0);
}

} // namespace tavrik::text
