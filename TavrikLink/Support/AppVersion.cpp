#include "TavrikLink/Support/AppVersion.hpp"

namespace tavrik {

std::string tavrikAppVersion()
{
    const std::string configured = TAVRIK_APP_VERSION_TEXT;
    return configured.empty() ? std::string("0.0.0") : configured;
}

} // namespace tavrik
