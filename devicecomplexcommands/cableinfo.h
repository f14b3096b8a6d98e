#pragma once

#include <QDate>
#include <QMetaType>
#include <array>
#include <cstdint>
#include <vector>

namespace Tavrix::Usb {

// The record in the patient cable's memory.
struct CableInfo
{
    uint8_t version = 0;
    uint8_t cableRegime = 0;
    uint8_t cableType = 0;
    uint32_t cableNumber = 0;
    uint32_t setupCounter = 0;
    QDate dateOfCreate;
    QDate beginUsageDate;
    QDate lastInstallDate;
};

// Date bytes of the cable memory: day, month, year − 2000, BCD each.
struct CableDate
{
    // FF FF FF for an invalid date.
    static std::array<uint8_t, 3> encode(const QDate& date);
    // Invalid when day or month is not BCD; year 2255 when only the year is not.
    static QDate decode(const uint8_t* bytes);
};

} // namespace Tavrix::Usb

namespace Tavrix::DeviceComplexCommands {

struct CableVersion
{
    uint8_t hardwareVersion = 0;
    uint16_t softwareVersion = 0;
    std::vector<uint8_t> uid = std::vector<uint8_t>(12, 0);
    uint8_t uidCrc = 0;
};

} // namespace Tavrix::DeviceComplexCommands

Q_DECLARE_METATYPE(Tavrix::Usb::CableInfo)
Q_DECLARE_METATYPE(Tavrix::DeviceComplexCommands::CableVersion)
