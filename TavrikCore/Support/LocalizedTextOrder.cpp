#include "TavrikCore/Support/LocalizedTextOrder.hpp"

#include "TavrikCore/Support/Text.hpp"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>

namespace tavrik {

struct LocalizedTextOrder::State {
    std::unique_ptr<icu::Collator> collator;
};

LocalizedTextOrder::LocalizedTextOrder(const std::string& localeId)
    : state(std::make_unique<State>())
{
    UErrorCode status = U_ZERO_ERROR;
    state->collator.reset(icu::Collator::createInstance(icu::Locale::createCanonical(localeId.c_str()), status));
    if (U_FAILURE(status) || !state->collator) {
        status = U_ZERO_ERROR;
        state->collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
    }
    if (state->collator) {
        // Secondary strength ignores case differences but keeps accents apart.
        state->collator->setStrength(icu::Collator::SECONDARY);
    }
}

LocalizedTextOrder::~LocalizedTextOrder() = default;
LocalizedTextOrder::LocalizedTextOrder(LocalizedTextOrder&&) noexcept = default;
LocalizedTextOrder& LocalizedTextOrder::operator=(LocalizedTextOrder&&) noexcept = default;

int LocalizedTextOrder::compare(std::string_view lhs, std::string_view rhs) const
{
    // Some tailorings (such as POSIX's) set upper case apart at the first level; folding first keeps
    // the order case-blind whatever the locale.
    const std::string left = text::lowercased(lhs);
    const std::string right = text::lowercased(rhs);
    if (!state->collator) {
        return left.compare(right);
    }
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = state->collator->compareUTF8(
        icu::StringPiece(left.data(), static_cast<int32_t>(left.size())),
        icu::StringPiece(right.data(), static_cast<int32_t>(right.size())), status);
    if (U_FAILURE(status)) {
        return left.compare(right);
    }
    return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

} // namespace tavrik
