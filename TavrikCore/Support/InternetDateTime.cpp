#include "TavrikCore/Support/InternetDateTime.hpp"

#include <cstdio>

namespace tavrik {

std::string internetDateTimeText(std::chrono::system_clock::time_point moment)
{
    using namespace std::chrono;
    const sys_seconds seconds = floor<std::chrono::seconds>(moment);
    const sys_days day = floor<days>(seconds);
    const year_month_day date { day };
    const hh_mm_ss<std::chrono::seconds> time { seconds - day };
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
        static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
    return text;
}

} // namespace tavrik
