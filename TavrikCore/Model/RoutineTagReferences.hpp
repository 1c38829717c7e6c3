#pragma once

#include "TavrikCore/Model/RoutineModels.hpp"
#include "TavrikCore/Model/TagModels.hpp"

#include <cstdint>
#include <map>
#include <vector>

namespace tavrik {

// Every step names a saved tag by its numeric id, and every start tag is saved, listed once and
// owned by one routine. Routines are checked in ascending id order; the first broken rule throws
// SyncImportError naming it. Nothing is changed.
void checkRoutineTagReferences(
    const std::vector<TagInfo>& tags, const std::map<std::uint32_t, RoutineDetailModel>& routines);

// The same check, with `replacement` in place of the routine of its id (or added), for routines
// that pass it on their own: throws what checkRoutineTagReferences would, looking only at the
// replacement's steps and at the other routines' start tags.
void checkRoutineTagReferencesWithOneReplaced(const std::vector<TagInfo>& tags,
    const std::map<std::uint32_t, RoutineDetailModel>& routines, const RoutineDetailModel& replacement);

} // namespace tavrik
