#pragma once

#include "TavrikCore/Support/Json.hpp"

#include <string_view>

namespace tavrik {

// What the controller needs of a connection to a Tavrik, whichever road carries it: the Bluetooth
// data channel or the local simulator's files.
class DeviceLink {
public:
    virtual ~DeviceLink() = default;

    // Sends "channel:command"; true when the link took it.
    virtual bool sendCommand(std::string_view channel, std::string_view command) = 0;
    // Sends one JSON message; true when the link took it.
    virtual bool sendMessage(const Json& message) = 0;
    // A device is at the other end and messages can go out.
    virtual bool attached() const = 0;
    // Firmware installs run over this kind of link at all; the board at the other end may still lack
    // the means to take an image (`supportsFirmware`).
    virtual bool supportsFirmwareTransfer() const = 0;
    // Firmware images can be sent over this link to this board.
    virtual bool supportsFirmware() const = 0;
    // Wi-Fi requests reach the device's radio over this link.
    virtual bool supportsWifi() const = 0;
    // A backup can be written to the device over this link.
    virtual bool supportsRestore() const = 0;
};

} // namespace tavrik
