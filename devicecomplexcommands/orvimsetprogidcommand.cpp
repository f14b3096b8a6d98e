#include "devicecomplexcommands/orvimsetprogidcommand.h"

#include "devicecomplexcommands/eepromdatarecord.h"
#include "devicecomplexcommands/setdatatoeepromcommand.h"
#include "usb/complexcommandcreatemultidata.h"
#include "usb/devicecommandstatuscreator.h"
#include "usb/operationrunner.h"
#include "usb/usbdevicemanager.h"

namespace Tavrix::DeviceComplexCommands {

using Usb::DeviceCommandStatus;

OrvimSetProgIdCommand::OrvimSetProgIdCommand(uint32_t uid, uint8_t progId, Usb::UsbDeviceManager* manager)
    : SetProgIdCommand("SetProgId", uid)
    , m_progId(progId)
    , m_manager(manager)
{
}

std::shared_ptr<DeviceCommandStatus> OrvimSetProgIdCommand::execute()
{
    if (!m_manager)
        return Usb::DeviceCommandStatusCreator::create({}, Usb::DeviceCommand::DEVICE_DISCONNECTED);
    EepromDataRecord record{address, {m_progId, uint8_t(~m_progId)}};
    const auto data =
        std::make_shared<Usb::ComplexCommandCreateMultidata<unsigned, EepromDataRecord>>(m_manager->generateUid(), record);
    return Usb::runNamedOperation<SetDataToEepromCommand>(m_manager, "SetDataToEeprom", data, m_executedCommands, this,
                                                          &OrvimSetProgIdCommand::handleWritten);
}

void OrvimSetProgIdCommand::handleWritten(Usb::ComplexCommand*, std::shared_ptr<DeviceCommandStatus> status)
{
    emit answerIsReady(this, status);
}

} // namespace Tavrix::DeviceComplexCommands
