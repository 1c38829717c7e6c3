#pragma once

#include "TavrikCore/Model/RoutineModels.hpp"
#include "TavrikCore/Model/TagModels.hpp"

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace tavrik {

// The saved tag id a step's tag text names: decimal digits (an optional leading "+") with blanks and
// line breaks around them allowed. Nothing for any other text or a number beyond 4294967295.
std::optional<std::uint32_t> routineTagIdReference(std::string_view text);

// Checks that every step and start tag of every routine names a saved tag and that no start tag
// starts two routines. The routines checked are `stored` with each of `details` in place of the
// stored one of its id, in ascending id order. Throws SyncImportError naming the first broken
// reference; changes nothing.
void validateRoutineTagReferences(const std::map<std::uint32_t, RoutineDetailModel>& stored,
    const std::vector<RoutineDetailModel>& details, const std::vector<TagInfo>& tags);

} // namespace tavrik
