#pragma once

#include <string_view>

namespace tavrik {

enum class BleWriteType {
    withResponse,
    withoutResponse,
};

// The name the transfer log shows: "withResponse" or "withoutResponse".
constexpr std::string_view writeTypeText(BleWriteType type)
{
    return type == BleWriteType::withResponse ? "withResponse" : "withoutResponse";
}

} // namespace tavrik
