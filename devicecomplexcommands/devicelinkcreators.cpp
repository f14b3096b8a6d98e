#include "devicecomplexcommands/devicelinkcreators.h"

#include "devicecomplexcommands/orvimgettimecommand.h"
#include "usb/complexcommandfactory.h"
#include "usb/complexdatacommandcreator.h"

namespace Tavrix::DeviceComplexCommands {

void DeviceLinkCreators::registerDeviceLinkCreators(Usb::ComplexCommandFactory& factory,
                                                    Usb::UsbDeviceManager* manager)
{
    factory.add("OrvimGetTime",
                std::make_shared<Usb::ComplexDataCommandCreator<OrvimGetTimeCommand, unsigned, Usb::UsbDeviceManager*>>(
                    manager));
}

} // namespace Tavrix::DeviceComplexCommands
