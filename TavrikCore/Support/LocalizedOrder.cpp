#include "TavrikCore/Support/LocalizedOrder.hpp"

#include "TavrikCore/Support/Text.hpp"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

namespace tavrik {

LocalizedCaseInsensitiveOrder::LocalizedCaseInsensitiveOrder(const std::string& localeId)
{
    // A "C" or POSIX environment reads as en_US_POSIX, whose order is byte order with case first;
    // the root order stands in for it.
    const icu::Locale locale = localeId == "en_US_POSIX" ? icu::Locale::getRoot() : icu::Locale(localeId.c_str());
    UErrorCode status = U_ZERO_ERROR;
    collator.reset(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status)) {
        collator.reset();
        return;
    }
    // Secondary strength: base letters and accents differ, letter case does not.
    collator->setStrength(icu::Collator::SECONDARY);
}

LocalizedCaseInsensitiveOrder::~LocalizedCaseInsensitiveOrder() = default;
LocalizedCaseInsensitiveOrder::LocalizedCaseInsensitiveOrder(LocalizedCaseInsensitiveOrder&&) noexcept = default;
LocalizedCaseInsensitiveOrder& LocalizedCaseInsensitiveOrder::operator=(
    LocalizedCaseInsensitiveOrder&&) noexcept = default;

int LocalizedCaseInsensitiveOrder::compare(std::string_view left, std::string_view right) const
{
    return compareFolded(folded(left), folded(right));
}

std::string LocalizedCaseInsensitiveOrder::folded(std::string_view text)
{
    // Some tailorings (POSIX's, the order a "C" environment gets) set capitals apart at the first
    // level, which secondary strength keeps; comparing folded texts keeps every locale case-blind.
    return text::lowercased(text);
}

int LocalizedCaseInsensitiveOrder::compareFolded(std::string_view lhs, std::string_view rhs) const
{
    if (!collator) {
        return lhs < rhs ? -1 : (rhs < lhs ? 1 : 0);
    }
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = collator->compareUTF8(icu::StringPiece(lhs.data(), static_cast<int32_t>(lhs.size())),
        icu::StringPiece(rhs.data(), static_cast<int32_t>(rhs.size())), status);
    if (U_FAILURE(status)) {
        return 0;
    }
    return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

} // namespace tavrik
