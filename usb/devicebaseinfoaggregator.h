#pragma once

#include "usb/deviceinfo.h"

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace Tavrix::Usb {

// Texts derived from the identity answer.
class DeviceBaseInfoAggregator
{
public:
    // 0x0103 -> "1.03", 0x0A0F -> "a.0f".
    static QString toVersionText(unsigned short version);
    // "<extension>(<type>):<hardware>:<software>".
    static std::string getDeviceName(const DeviceInfo& info);
    // The Windows-1251 text from offset 12 of the identity answer, as UTF-8.
    static std::string getDeviceExtension(const std::vector<uint8_t>& answer);
};

} // namespace Tavrix::Usb
