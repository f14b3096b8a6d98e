#pragma once

// Orvim operations that send one fixed frame straight to the byte command
// queue (their requests are not in the device descriptions).

#include "devicecomplexcommands/checkspecialfirmwareexistcommand.h"
#include "devicecomplexcommands/readguiversioncommand.h"
#include "devicecomplexcommands/readnumbercommand.h"
#include "devicecomplexcommands/restartcommand.h"
#include "usb/readecgmodecommand.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Tavrix::Usb {
class ByteCommandQueue;
}

namespace Tavrix::DeviceComplexCommands {

// Cable adapter: is its special firmware there (byte 5 of a 9-byte answer)?
class OrvimCheckSpecialFirmwareExistCommand : public CheckSpecialFirmwareExistCommand
{
    Q_OBJECT

public:
    OrvimCheckSpecialFirmwareExistCommand(uint32_t uid, Usb::ByteCommandQueue* queue);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    Usb::ByteCommandQueue* m_queue;
};

// ECG lead mode from byte 4 of an 8-byte answer; an unknown byte is mode 0.
class OrvimReadEcgModeCommand : public Usb::ReadEcgModeCommand
{
    Q_OBJECT

public:
    OrvimReadEcgModeCommand(uint32_t uid, Usb::ByteCommandQueue* queue);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    Usb::ByteCommandQueue* m_queue;
};

// Full restart; the recorder answers and then leaves the bus for a moment.
class OrvimRestartCommand : public RestartCommand
{
    Q_OBJECT

public:
    OrvimRestartCommand(uint32_t uid, Usb::ByteCommandQueue* queue);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    Usb::ByteCommandQueue* m_queue;
};

// Serial number: bytes 4-7, little-endian, of an answer of at least 11 bytes.
class OrvimReadNumberCommand : public ReadNumberCommand
{
    Q_OBJECT

public:
    OrvimReadNumberCommand(uint32_t uid, Usb::ByteCommandQueue* queue);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    Usb::ByteCommandQueue* m_queue;
};

// GUI version "high.low" in lower-case hexadecimal from the two 16-bit
// little-endian halves at bytes 5-6 and 7-8 (answer of at least 12 bytes),
// as the device summary shows it.
class OrvimReadGuiVersionCommand : public ReadGuiVersionCommand
{
    Q_OBJECT

public:
    OrvimReadGuiVersionCommand(uint32_t uid, Usb::ByteCommandQueue* queue);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

    // Empty when the answer is too short to hold both halves.
    static std::string decodeAnswer(const std::vector<uint8_t>& answer);

private:
    Usb::ByteCommandQueue* m_queue;
};

} // namespace Tavrix::DeviceComplexCommands
