#include "TavrikCore/Support/LabelOrder.hpp"

#include "TavrikCore/Support/Text.hpp"

#include <memory>
#include <string>
#include <unicode/coll.h>
#include <unicode/locid.h>

namespace tavrik::text {

int compareLocalizedIgnoringCase(std::string_view lhs, std::string_view rhs, std::string_view localeId)
{
    // A "C" or POSIX environment reads as en_US_POSIX, whose order is byte order with case first;
    // the root order stands in for it.
    const std::string id(localeId);
    const icu::Locale locale = id == "en_US_POSIX" ? icu::Locale::getRoot() : icu::Locale(id.c_str());
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_SUCCESS(status) && collator) {
        // Secondary strength: accents count, letter case does not.
        collator->setStrength(icu::Collator::SECONDARY);
        const UCollationResult result
            = collator->compareUTF8(icu::StringPiece(lhs.data(), static_cast<int32_t>(lhs.size())),
                icu::StringPiece(rhs.data(), static_cast<int32_t>(rhs.size())), status);
        if (U_SUCCESS(status)) {
            return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
        }
    }
    const std::string left = lowercased(lhs);
    const std::string right = lowercased(rhs);
    return left < right ? -1 : (right < left ? 1 : 0);
}

} // namespace tavrik::text
