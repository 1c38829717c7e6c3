#pragma once

namespace tavrik::bench {

// The one Qt application of the benchmark program, made by whichever benchmark runs first. It is of
// the widest kind any benchmark here needs (a widgets application when the widgets are built), since
// Qt allows a single application per process and a plain one cannot carry a widget later: run order
// must not matter. It lives until the process ends and is never destroyed: torn down among the exit
// handlers, after Qt's own statics, it crashes.
void ensureBenchApplication();

} // namespace tavrik::bench
