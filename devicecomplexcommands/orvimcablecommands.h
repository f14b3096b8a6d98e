#pragma once

#include "devicecomplexcommands/cableoperations.h"
#include "devicecomplexcommands/orvimframechain.h"
#include "devicecomplexcommands/orvimsinglerequest.h"
#include "devicecomplexcommands/writecableinfocommand.h"
#include "devicecomplexcommands/writecablesetupcountercommand.h"
#include "usb/readcableexistcommand.h"

namespace Tavrix::Usb {
class ByteCommand;
class ByteCommandQueue;
class UsbDeviceManager;
}

namespace Tavrix::DeviceComplexCommands {

// The cable memory record: at least 25 bytes, layout from byte 5 on.
class OrvimReadCableInfoCommand : public SingleRequestCommand<ReadCableInfoCommand>
{
public:
    OrvimReadCableInfoCommand(uint32_t uid, Usb::ByteCommandQueue* queue);
    static Usb::CableInfo decode(const std::vector<uint8_t>& answer);

private:
    void answer(const std::vector<uint8_t>& answer, int32_t status) override;
};

// The cable's version block: exactly 23 bytes.
class OrvimReadCableVersionCommand : public SingleRequestCommand<ReadCableVersionCommand>
{
public:
    OrvimReadCableVersionCommand(uint32_t uid, Usb::ByteCommandQueue* queue);

private:
    void answer(const std::vector<uint8_t>& answer, int32_t status) override;
};

// Cable presence: bit 0 of byte 4 of an answer of at least 8 bytes.
class OrvimReadCableExistCommand : public SingleRequestCommand<Usb::ReadCableExistCommand>
{
public:
    OrvimReadCableExistCommand(uint32_t uid, Usb::ByteCommandQueue* queue);

private:
    void answer(const std::vector<uint8_t>& answer, int32_t status) override;
};

// Main record, setup counter, cable reset, then 2000 ms for the cable to restart.
class OrvimWriteCableInfoCommand : public FrameChainCommand<WriteCableInfoCommand>
{
public:
    OrvimWriteCableInfoCommand(uint32_t uid, const Usb::CableInfo& info, Usb::ByteCommandQueue* queue);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

    static std::vector<uint8_t> mainInfoFrame(const Usb::CableInfo& info);

private:
    uint32_t m_cableNumber;
};

// Setup counter, cable reset, then the 2000 ms wait.
class OrvimWriteCableSetupCounterCommand : public FrameChainCommand<WriteCableSetupCounterCommand>
{
public:
    OrvimWriteCableSetupCounterCommand(uint32_t uid, uint32_t counter, Usb::ByteCommandQueue* queue);
};

// The lead group of the attached cable, from its type through Cables.json.
class GetCableLeadTypeCommand : public Usb::ComplexCommand
{
    Q_OBJECT

public:
    GetCableLeadTypeCommand(uint32_t uid, Usb::UsbDeviceManager* manager);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

signals:
    void answerIsReady(Usb::ComplexCommand* command, uint8_t leadType, std::shared_ptr<Usb::DeviceCommandStatus> status);

private:
    void handleCableInfo(Usb::ComplexCommand* command, Usb::CableInfo info, std::shared_ptr<Usb::DeviceCommandStatus> status);
    Usb::UsbDeviceManager* m_manager;
};

// The frames of the cable writes, shared with the setup counter write.
std::vector<FrameStep> cableSetupCounterSteps(uint32_t counter);

constexpr int cableWriteTimeoutMs = 4000;
constexpr int cableSettleMs = 2000;

} // namespace Tavrix::DeviceComplexCommands
