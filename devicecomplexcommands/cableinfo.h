#pragma once

#include <QDate>
#include <QMetaType>
#include <cstdint>
#include <vector>

namespace Tavrix::Common {
class ByteReader;
class ByteWriter;
} // namespace Tavrix::Common

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
    static void encode(const QDate& date, Common::ByteWriter& out);
    // Reads the three bytes. Invalid when day or month is not BCD (or the
    // bytes run out); year 2255 when only the year is not.
    static QDate decode(Common::ByteReader& bytes);
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
