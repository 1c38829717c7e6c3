#include "TavrikCore/Firmware/FirmwareVersion.hpp"

namespace tavrik {

namespace {

bool isDigit(char character)
{
    return character >= '0' && character <= '9';
}

// Compares two digit runs by value, whatever their length, without converting them to numbers.
int compareDigitRuns(std::string_view left, std::string_view right)
{
    const auto significant = [](std::string_view run) {
        const auto first = run.find_first_not_of('0');
        return first == std::string_view::npos ? std::string_view {} : run.substr(first);
    };
    left = significant(left);
    right = significant(right);
    if (left.size() != right.size()) {
        return left.size() < right.size() ? -1 : 1;
    }
    const int order = left.compare(right);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::string_view digitRun(std::string_view text, std::size_t start)
{
    std::size_t end = start;
    while (end < text.size() && isDigit(text[end])) {
        ++end;
    }
    return text.substr(start, end - start);
}

} // namespace

int compareVersions(std::string_view left, std::string_view right)
{
    std::size_t leftIndex = 0;
    std::size_t rightIndex = 0;
    while (leftIndex < left.size() && rightIndex < right.size()) {
        if (isDigit(left[leftIndex]) && isDigit(right[rightIndex])) {
            const std::string_view leftRun = digitRun(left, leftIndex);
            const std::string_view rightRun = digitRun(right, rightIndex);
            if (const int order = compareDigitRuns(leftRun, rightRun); order != 0) {
                return order;
            }
            leftIndex += leftRun.size();
            rightIndex += rightRun.size();
            continue;
        }
        const auto leftByte = static_cast<unsigned char>(left[leftIndex]);
        const auto rightByte = static_cast<unsigned char>(right[rightIndex]);
        if (leftByte != rightByte) {
            return leftByte < rightByte ? -1 : 1;
        }
        ++leftIndex;
        ++rightIndex;
    }
    const bool leftRemains = leftIndex < left.size();
    const bool rightRemains = rightIndex < right.size();
    if (leftRemains == rightRemains) {
        return 0;
    }
    return leftRemains ? 1 : -1;
}

bool firmwareUpdateIsAvailable(
    const std::optional<std::string>& installedVersion, const std::optional<std::string>& availableVersion)
{
    if (!installedVersion || !availableVersion) {
        return false;
    }
    return compareVersions(*availableVersion, *installedVersion) > 0;
}

} // namespace tavrik
