#include "TavrikCore/Backup/SyncDataPieces.hpp"

#include "TavrikCore/Support/JsonScanner.hpp"

#include <cstddef>

namespace tavrik {

std::optional<SyncDataPieces> SyncDataPieces::split(std::string_view text)
{
    constexpr std::size_t notFound = JsonScanner::notFound;
    const JsonScanner scanner(text);
    SyncDataPieces pieces;
    std::size_t arrayOpen = notFound;
    std::size_t arrayClose = notFound;
    const bool walked = scanner.forEachMember([&](std::string_view key, bool escapedKey, std::size_t at) {
        // An escaped key might spell "routines" another way; the whole reader decides about it.
        if (escapedKey) {
            return notFound;
        }
        if (key != "routines") {
            return scanner.skipValue(at, 1);
        }
        if (arrayOpen != notFound || at >= text.size() || text[at] != '[') {
            return notFound;
        }
        arrayOpen = at;
        at = scanner.skipBlanks(at + 1);
        if (at < text.size() && text[at] != ']') {
            while (true) {
                // A routine lies two containers deep: in the document, in the array.
                const std::size_t end = scanner.skipValue(at, 2);
                if (end == notFound) {
                    return notFound;
                }
                pieces.routines.push_back(text.substr(at, end - at));
                at = scanner.skipBlanks(end);
                if (at >= text.size() || (text[at] != ',' && text[at] != ']')) {
                    return notFound;
                }
                if (text[at] == ']') {
                    break;
                }
                at = scanner.skipBlanks(at + 1);
            }
        }
        if (at >= text.size()) {
            return notFound;
        }
        arrayClose = at;
        return at + 1;
    });
    if (!walked || arrayOpen == notFound) {
        return std::nullopt;
    }
    pieces.document.reserve(text.size() - (arrayClose - arrayOpen) + 1);
    pieces.document.append(text.substr(0, arrayOpen + 1));
    pieces.document.append(text.substr(arrayClose));
    return pieces;
}

} // namespace tavrik
