#include "TavrikCore/Backup/SyncDataPieces.hpp"

#include "TavrikCore/Support/JsonScanner.hpp"

#include <cstddef>
#include <utility>

namespace tavrik {

namespace {

constexpr std::size_t notFound = JsonScanner::notFound;

} // namespace

std::optional<SyncDataPieces> SyncDataPieces::split(std::string_view text)
{
    Splitter splitter(text);
    while (!splitter.advance(notFound)) { }
    return splitter.take();
}

SyncDataPieces::Splitter::Splitter(std::string_view text)
    : text(text)
    , arrayOpen(notFound)
    , arrayClose(notFound)
{
}

bool SyncDataPieces::Splitter::fail()
{
    stage = Stage::failed;
    pieces = {};
    return true;
}

bool SyncDataPieces::Splitter::advance(std::size_t bytes)
{
    const JsonScanner scanner(text);
    const std::size_t began = at;
    // The document's own members are walked one at a time, the routines a routine at a time.
    while (true) {
        switch (stage) {
        case Stage::open:
            at = scanner.skipBlanks(0);
            if (at >= text.size() || text[at] != '{') {
                return fail();
            }
            at = scanner.skipBlanks(at + 1);
            if (at < text.size() && text[at] == '}') {
                // An empty document has no routines to cut apart.
                return fail();
            }
            stage = Stage::member;
            break;
        case Stage::member: {
            if (at >= text.size() || text[at] != '"') {
                return fail();
            }
            bool escaped = false;
            const std::size_t keyEnd = scanner.skipString(at, escaped);
            // An escaped key might spell "routines" another way; the whole reader decides about it.
            if (keyEnd == notFound || escaped) {
                return fail();
            }
            const std::string_view key = text.substr(at + 1, keyEnd - at - 2);
            at = scanner.skipBlanks(keyEnd);
            if (at >= text.size() || text[at] != ':') {
                return fail();
            }
            at = scanner.skipBlanks(at + 1);
            if (key != "routines") {
                at = scanner.skipValue(at, 1);
                if (at == notFound) {
                    return fail();
                }
                stage = Stage::afterValue;
                break;
            }
            if (arrayOpen != notFound || at >= text.size() || text[at] != '[') {
                return fail();
            }
            arrayOpen = at;
            at = scanner.skipBlanks(at + 1);
            stage = at < text.size() && text[at] != ']' ? Stage::routine : Stage::afterRoutines;
            break;
        }
        case Stage::routine: {
            // A routine lies two containers deep: in the document, in the array.
            const std::size_t end = scanner.skipValue(at, 2);
            if (end == notFound) {
                return fail();
            }
            pieces.routines.push_back(text.substr(at, end - at));
            at = scanner.skipBlanks(end);
            if (at >= text.size() || (text[at] != ',' && text[at] != ']')) {
                return fail();
            }
            if (text[at] == ']') {
                stage = Stage::afterRoutines;
            } else {
                at = scanner.skipBlanks(at + 1);
            }
            break;
        }
        case Stage::afterRoutines:
            if (at >= text.size()) {
                return fail();
            }
            arrayClose = at;
            ++at;
            stage = Stage::afterValue;
            break;
        case Stage::afterValue:
            at = scanner.skipBlanks(at);
            if (at >= text.size()) {
                return fail();
            }
            if (text[at] == '}') {
                if (scanner.skipBlanks(at + 1) != text.size() || arrayOpen == notFound) {
                    return fail();
                }
                stage = Stage::done;
                return true;
            }
            if (text[at] != ',') {
                return fail();
            }
            at = scanner.skipBlanks(at + 1);
            stage = Stage::member;
            break;
        case Stage::done:
        case Stage::failed:
            return true;
        }
        if (at - began >= bytes) {
            return false;
        }
    }
}

std::optional<SyncDataPieces> SyncDataPieces::Splitter::take()
{
    if (stage != Stage::done) {
        return std::nullopt;
    }
    pieces.document.reserve(text.size() - (arrayClose - arrayOpen) + 1);
    pieces.document.append(text.substr(0, arrayOpen + 1));
    pieces.document.append(text.substr(arrayClose));
    return std::move(pieces);
}

} // namespace tavrik
