#pragma once

#include "common/datetimeobject.h"
#include "devicesinfo/devicecommoninfo.h"

#include <cstdint>
#include <string>

namespace Tavrix::Usb {

// The identified recorder: the description of its type plus what the device
// itself reported. A default record (type 0, versions 0) means no device.
struct DeviceInfo : public DevicesInfo::DeviceCommonInfo
{
    uint16_t softwareVersion = 0;
    uint16_t hardwareVersion = 0;
    std::string versionExtension;
    Common::DateTimeObject dateTime;
    bool cablePresent = false;

    // Takes over every description field; keeps the device-reported ones.
    void setDescription(const DevicesInfo::DeviceCommonInfo& description);
    // True while no recorder has been identified.
    bool isDefault() const { return type == 0 && hardwareVersion == 0; }
};

} // namespace Tavrix::Usb
