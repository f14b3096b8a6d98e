#pragma once

// The Orvim operations that are one described request to the recorder (or,
// for the pel switch, a short fixed chain). Each sends through
// the operation framework and answers once with the decoded value.

#include "common/datetimeobject.h"
#include "devicecomplexcommands/getfrequencycommand.h"
#include "devicecomplexcommands/getpelcommand.h"
#include "devicecomplexcommands/getpowercommand.h"
#include "devicecomplexcommands/getwritingstatecommand.h"
#include "devicecomplexcommands/operationexchange.h"
#include "devicecomplexcommands/orvimreadvaluecommand.h"
#include "devicecomplexcommands/recordmodecommands.h"
#include "devicecomplexcommands/setpelcommand.h"
#include "devicecomplexcommands/settimecommand.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace Tavrix::Usb {
class UsbDeviceManager;
}

namespace Tavrix::DeviceComplexCommands {

// "WriteRtc" with the six clock fields in BCD, seconds first.
class OrvimSetTimeCommand : public SetTimeCommand
{
    Q_OBJECT

public:
    OrvimSetTimeCommand(uint32_t uid, Common::DateTimeObject dateTime, Usb::UsbDeviceManager* manager);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

    static std::vector<uint8_t> encodeClock(const Common::DateTimeObject& dateTime);

private:
    Common::DateTimeObject m_dateTime;
    Usb::UsbDeviceManager* m_manager;
};

// "ReadPower": battery voltage, 16-bit little-endian at byte 4 of a 9-byte
// answer. Read by OrvimReadValueCommand through its binding row.
ValueRead<uint16_t> powerRead();

// Reo and pel switches as one "ReadReoAndPel" answer: reo at byte 5, pel at
// byte 6, both data bytes of a frame of at least 10 bytes. A shorter answer
// is malformed: its switches are not known.
struct ReoAndPel
{
    bool reoOn = false;
    bool pelOn = false;
    static std::optional<ReoAndPel> decode(const std::vector<uint8_t>& answer);
};

// "ReadReoAndPel"; remembers the reo switch in the device manager.
class OrvimGetPelCommand : public GetPelCommand
{
    Q_OBJECT

public:
    OrvimGetPelCommand(uint32_t uid, Usb::UsbDeviceManager* manager);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    Usb::UsbDeviceManager* m_manager;
};

// "WriteReoAndPel" with the reo switch kept as the device manager remembers
// it; reads it first ("ReadReoAndPel") only when it was never read.
class OrvimSetPelCommand : public SetPelCommand
{
    Q_OBJECT

public:
    OrvimSetPelCommand(uint32_t uid, bool pelOn, Usb::UsbDeviceManager* manager);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    std::shared_ptr<Usb::DeviceCommandStatus> sendWrite();
    void handleRead(const std::vector<uint8_t>& answer, int32_t status);

    bool m_reoOn = false;
    bool m_pelOn;
    Usb::UsbDeviceManager* m_manager;
};

// "ReadFrequency": rate code 2, 4, 8 or 16 at byte 4 of a 9-byte answer, in
// units of 125 Hz; given in Hz. A code the recorder does not use fails the
// answer. Read by OrvimReadValueCommand through its binding row.
ValueRead<uint16_t> frequencyRead();

// "ReadWritingState": 1 not recording, 2 recording, at byte 4 of an 8-byte answer.
class OrvimGetWritingStateCommand : public OrvimReadValueCommand<GetWritingStateCommand, EWritingState>
{
public:
    OrvimGetWritingStateCommand(uint32_t uid, Usb::UsbDeviceManager* manager);
};

// Record mode change ("WriteRecordMode"); the recorder's result byte is the
// answer's byte 4.
class OrvimBeginWritingCommand : public BeginWritingCommand
{
    Q_OBJECT

public:
    enum class EStartParams : uint8_t { Converter = 1, Recording = 2 };

    OrvimBeginWritingCommand(uint32_t uid, EStartParams start, Usb::UsbDeviceManager* manager);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    EStartParams m_start;
    Usb::UsbDeviceManager* m_manager;
};

// "WriteRecordMode" with mode 1, which ends a recording; answers the
// recorder's result byte.
class OrvimStopWritingCommand : public StopWritingCommand
{
public:
    OrvimStopWritingCommand(uint32_t uid, Usb::UsbDeviceManager* manager);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    Usb::UsbDeviceManager* m_manager;
};

} // namespace Tavrix::DeviceComplexCommands
