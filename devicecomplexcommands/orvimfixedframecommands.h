#pragma once

// Orvim operations that send one fixed frame straight to the byte command
// queue (their requests are not in the device descriptions). Each is one
// FixedRequest: the frame and what its answer means; the class around it is
// the same for all.

#include "devicecomplexcommands/checkspecialfirmwareexistcommand.h"
#include "devicecomplexcommands/readguiversioncommand.h"
#include "devicecomplexcommands/readnumbercommand.h"
#include "devicecomplexcommands/restartcommand.h"
#include "usb/operationrunner.h"
#include "usb/readecgmodecommand.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Tavrix::Usb {
class ByteCommandQueue;
}

namespace Tavrix::DeviceComplexCommands {

// A fixed request of the operation class `Face`: its name, its frame, and the
// reading of its answer, which emits the face's answerIsReady once.
template<typename Face>
struct FixedRequest
{
    const char* name;
    std::vector<uint8_t> frame;
    void (*answer)(Face* command, const std::vector<uint8_t>& answer, int32_t status);
};

template<typename Face, const FixedRequest<Face>& request>
class OrvimFixedFrameCommand : public Face
{
public:
    OrvimFixedFrameCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
        : Face(request.name, uid)
        , m_queue(queue)
    {
    }

    std::shared_ptr<Usb::DeviceCommandStatus> execute() override
    {
        return Usb::sendRequest(this, m_queue, request.name, request.frame,
                                [this](const std::vector<uint8_t>& answer, int32_t status) {
                                    request.answer(this, answer, status);
                                });
    }

private:
    Usb::ByteCommandQueue* m_queue;
};

// Cable adapter: is its special firmware there (byte 5 of a 9-byte answer)?
extern const FixedRequest<CheckSpecialFirmwareExistCommand> checkSpecialFirmwareRequest;
// ECG lead mode from byte 4 of an 8-byte answer; an unknown byte is mode 0.
extern const FixedRequest<Usb::ReadEcgModeCommand> readEcgModeRequest;
// Full restart; the recorder answers and then leaves the bus for a moment.
extern const FixedRequest<RestartCommand> restartRequest;
// Serial number: bytes 4-7, little-endian, of an answer of at least 11 bytes.
extern const FixedRequest<ReadNumberCommand> readNumberRequest;
// GUI version "high.low" in lower-case hexadecimal from the two 16-bit
// little-endian halves at bytes 5-6 and 7-8 (answer of at least 12 bytes),
// as the device summary shows it.
extern const FixedRequest<ReadGuiVersionCommand> readGuiVersionRequest;

using OrvimCheckSpecialFirmwareExistCommand =
    OrvimFixedFrameCommand<CheckSpecialFirmwareExistCommand, checkSpecialFirmwareRequest>;
using OrvimReadEcgModeCommand = OrvimFixedFrameCommand<Usb::ReadEcgModeCommand, readEcgModeRequest>;
using OrvimRestartCommand = OrvimFixedFrameCommand<RestartCommand, restartRequest>;
using OrvimReadNumberCommand = OrvimFixedFrameCommand<ReadNumberCommand, readNumberRequest>;
using OrvimReadGuiVersionCommand = OrvimFixedFrameCommand<ReadGuiVersionCommand, readGuiVersionRequest>;

} // namespace Tavrix::DeviceComplexCommands
