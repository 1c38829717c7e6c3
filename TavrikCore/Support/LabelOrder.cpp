#include "TavrikCore/Support/LabelOrder.hpp"

#include <memory>
#include <unicode/coll.h>
#include <unicode/locid.h>

namespace tavrik::text {

namespace {

// One collator per thread: ICU collators are not meant to be shared while they compare.
const icu::Collator* labelCollator()
{
    thread_local const std::unique_ptr<icu::Collator> collator = [] {
        // A "C" or POSIX environment reads as en_US_POSIX, whose order is byte order with case; the
        // root order stands in for it.
        icu::Locale locale = icu::Locale::getDefault();
        if (std::string_view(locale.getName()) == "en_US_POSIX") {
            locale = icu::Locale::getRoot();
        }
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> made(icu::Collator::createInstance(locale, status));
        if (U_FAILURE(status) || !made) {
            return std::unique_ptr<icu::Collator>();
        }
        // Secondary strength: accents count, letter case does not.
        made->setStrength(icu::Collator::SECONDARY);
        return made;
    }();
    return collator.get();
}

} // namespace

int compareLocalizedIgnoringCase(std::string_view lhs, std::string_view rhs)
{
    const icu::Collator* collator = labelCollator();
    if (!collator) {
        return lhs < rhs ? -1 : (rhs < lhs ? 1 : 0);
    }
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = collator->compareUTF8(icu::StringPiece(lhs.data(), static_cast<int32_t>(lhs.size())),
        icu::StringPiece(rhs.data(), static_cast<int32_t>(rhs.size())), status);
    if (U_FAILURE(status)) {
        return lhs < rhs ? -1 : (rhs < lhs ? 1 : 0);
    }
    return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

} // namespace tavrik::text
