#pragma once

#include "bench/BenchApplication.hpp"

namespace tavrik::bench {

// The widgets need an application; see ensureBenchApplication.
inline void ensureWidgetsApplication()
{
    ensureBenchApplication();
}

} // namespace tavrik::bench
