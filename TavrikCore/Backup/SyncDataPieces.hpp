#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrik {

// A device data document cut apart without parsing it: the document with its "routines" array
// emptied, and the text of each routine, in order. Reading the document and then each routine
// gives the same values as reading the whole text at once, a routine at a time, so no parse tree
// of every routine ever exists together.
struct SyncDataPieces {
    std::string document;
    std::vector<std::string_view> routines;

    // Nothing when the text is not plainly one JSON object with one top-level "routines" array (a
    // syntax fault, an escaped or repeated key, deep nesting, text after the end): such a text is
    // left to the whole-document reader, which finds and names the fault. The views point into `text`.
    static std::optional<SyncDataPieces> split(std::string_view text);
};

} // namespace tavrik
