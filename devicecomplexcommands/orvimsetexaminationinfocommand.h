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
// outside 2000–2099, a map block over 1280 bytes, texts that Windows-1251
// cannot hold, and names longer than the recorder keeps.
//
// A step that fails after others reached the recorder leaves a mixed
// examination there; the failure status then carries a text
// (DeviceCommandStatusInfo<std::string>) naming what was written and what
// was not, which also goes to the log and the device manager's error signal.
class OrvimSetExaminationInfoCommand : public SetExaminationInfoCommand
{
    Q_OBJECT

public:
    // Surname, name and patronymic: the recorder keeps 64 bytes of each and
    // silently drops the rest.
    static constexpr std::size_t maxNameBytes = 64;

    OrvimSetExaminationInfoCommand(uint32_t uid, ExaminationInfo info, Usb::UsbDeviceManager* manager);

    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

    // The examination map block of `info`; false when it cannot be built.
    static bool examinationBlock(const ExaminationInfo& info, std::vector<uint8_t>& block);

private:
    struct Step
    {
        const char* item;
        std::function<Exchange::StatusPtr()> run;
    };

    bool prepare(std::string& reason);
    Exchange::StatusPtr runStep();
    void advance(Exchange::StatusPtr status);
    void fail(const Exchange::StatusPtr& status);
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
