#pragma once

#include "TavrikCore/Support/Json.hpp"

namespace tavrik::test {

// The "sync_data" of a sample Tavrik: tags, two routines (one with a group), a weekly schedule,
// settings, Wi-Fi and a clock, for the first hardware target.
Json sampleDeviceData();

} // namespace tavrik::test
