#pragma once

#include "devicecomplexcommands/examinationinfo.h"
#include "devicecomplexcommands/operationexchange.h"
#include "devicecomplexcommands/setexaminationinfocommand.h"

#include <functional>

namespace Tavrix::DeviceComplexCommands {

// Writes the examination: the six "WriteExamInfo" fields, the start time and
// lead block at 0x08A0, "WriteLeadType", then the examination map block at
// 0x0980. Each step starts on the previous answer; the first failure ends it.
//
// Everything that cannot be written is refused by execute() with BAD_DATA
// before anything is sent: a lead type without a lead set, a start year
// outside 2000–2099, a map block over 1280 bytes, and texts that Windows-1251
// cannot hold.
class OrvimSetExaminationInfoCommand : public SetExaminationInfoCommand
{
    Q_OBJECT

public:
    OrvimSetExaminationInfoCommand(uint32_t uid, ExaminationInfo info, Usb::UsbDeviceManager* manager);

    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

    // The examination map block of `info`; false when it cannot be built.
    static bool examinationBlock(const ExaminationInfo& info, std::vector<uint8_t>& block);

private:
    using Step = std::function<Exchange::StatusPtr()>;

    bool prepare(std::string& reason);
    Exchange::StatusPtr runStep();
    void advance(Exchange::StatusPtr status);
    void handleByteAnswer(std::shared_ptr<Usb::ByteCommand> command, const std::vector<uint8_t>& answer, int32_t status);
    void handleSubAnswer(Usb::ComplexCommand* command, std::shared_ptr<Usb::DeviceCommandStatus> status);
    Exchange::StatusPtr writeExamField(uint8_t tag, std::vector<uint8_t> field);
    Exchange::StatusPtr writeEeprom(uint16_t address, std::vector<uint8_t> data);

    ExaminationInfo m_info;
    Usb::UsbDeviceManager* m_manager;
    std::vector<Step> m_steps;
    std::size_t m_next = 0;
};

} // namespace Tavrix::DeviceComplexCommands
