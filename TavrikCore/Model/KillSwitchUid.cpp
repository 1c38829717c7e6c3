#include "TavrikCore/Model/KillSwitchUid.hpp"

#include "TavrikCore/Support/Text.hpp"

#include <cstdint>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace tavrik {

std::string normalizedKillSwitchUid(std::string_view uid)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(uid.data());
    const auto length = static_cast<std::int32_t>(uid.size());
    std::string joined;
    std::int32_t pieceStart = 0;
    std::int32_t offset = 0;
    const auto endPiece = [&](std::int32_t pieceEnd) {
        if (pieceEnd > pieceStart) {
            if (!joined.empty()) {
                joined += ' ';
            }
            joined.append(
                uid.substr(static_cast<std::size_t>(pieceStart), static_cast<std::size_t>(pieceEnd - pieceStart)));
        }
    };
    while (offset < length) {
        const std::int32_t characterStart = offset;
        UChar32 character;
        U8_NEXT(bytes, offset, length, character);
        if (character >= 0 && u_isUWhiteSpace(character)) {
            endPiece(characterStart);
            pieceStart = offset;
        }
    }
    endPiece(length);
    return text::uppercased(joined);
}

} // namespace tavrik
