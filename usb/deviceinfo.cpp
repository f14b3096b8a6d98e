#include "usb/deviceinfo.h"

namespace Tavrix::Usb {

void DeviceInfo::setDescription(const DevicesInfo::DeviceCommonInfo& description)
{
    static_cast<DevicesInfo::DeviceCommonInfo&>(*this) = description;
}

} // namespace Tavrix::Usb
