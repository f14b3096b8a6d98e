#include "devicecomplexcommands/getexternaccfrequencycommand.h"

namespace Tavrix::DeviceComplexCommands {

GetExternAccFrequencyCommand::GetExternAccFrequencyCommand(uint32_t uid)
    : Usb::ComplexCommand("GetExternAccFrequency", uid)
{
}

std::shared_ptr<Usb::DeviceCommandStatus> GetExternAccFrequencyCommand::execute()
{
    emit answerIsReady(this, m_frequency, std::make_shared<Usb::DeviceCommandStatus>(Usb::DeviceCommand::OK));
    return std::make_shared<Usb::DeviceCommandStatus>(Usb::DeviceCommand::OK);
}

} // namespace Tavrix::DeviceComplexCommands
