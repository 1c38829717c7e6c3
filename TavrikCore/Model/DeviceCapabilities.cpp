#include "TavrikCore/Model/DeviceCapabilities.hpp"

namespace tavrik {

DeviceCapabilities::DeviceCapabilities(std::int64_t schemaVersion, bool secure, bool simulator, bool wifi, bool killSwitch)
    : schemaVersion(schemaVersion)
    , secure(secure)
    , simulator(simulator)
    , wifi(wifi && secure && !simulator)
    , killSwitch(killSwitch)
{
}

Json toJson(const DeviceCapabilities& capabilities)
{
    Json object = Json::object();
    object["schemaVersion"] = capabilities.schemaVersion;
    object["secure"] = capabilities.secure;
    object["simulator"] = capabilities.simulator;
    object["wifi"] = capabilities.wifi;
    object["killSwitch"] = capabilities.killSwitch;
    return object;
}

DeviceCapabilities deviceCapabilitiesFromJson(const Json& value)
{
    const Json& object = json::requireObject(value, "capabilities");
    DeviceCapabilities capabilities;
    capabilities.schemaVersion = json::requiredInt(object, "schemaVersion");
    capabilities.secure = json::requiredBool(object, "secure");
    capabilities.simulator = json::requiredBool(object, "simulator");
    capabilities.wifi = json::requiredBool(object, "wifi");
    capabilities.killSwitch = json::requiredBool(object, "killSwitch");
    return capabilities;
}

} // namespace tavrik
