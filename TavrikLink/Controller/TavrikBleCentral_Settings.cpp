#include "TavrikLink/Controller/TavrikBleCentral.hpp"

namespace tavrik {

void TavrikBleCentral::setMuteNonAlarmSounds(bool)
{
}

void TavrikBleCentral::setKillSwitchUid(std::string_view)
{
}

} // namespace tavrik
