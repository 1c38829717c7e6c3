#pragma once

#include <cstddef>
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

    // The same cut made over several steps, so a long text never holds one turn of the event loop.
    class Splitter;
};

class SyncDataPieces::Splitter {
public:
    // The text must outlive the splitter and the pieces.
    explicit Splitter(std::string_view text);

    // Walks on by about `bytes` of the text (at least one part of it); true once the cut is
    // finished, whether it succeeded or not.
    bool advance(std::size_t bytes);
    // The pieces once finished; nothing when the text is left to the whole-document reader.
    std::optional<SyncDataPieces> take();

private:
    enum class Stage { open, member, routine, afterRoutines, afterValue, done, failed };

    bool fail();

    std::string_view text;
    Stage stage = Stage::open;
    std::size_t at = 0;
    std::size_t arrayOpen;
    std::size_t arrayClose;
    SyncDataPieces pieces;
};

} // namespace tavrik
