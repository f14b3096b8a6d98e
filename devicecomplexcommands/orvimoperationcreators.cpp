#include "devicecomplexcommands/orvimoperationcreators.h"

#include "devicecomplexcommands/eepromdatarecord.h"
#include "devicecomplexcommands/getexternaccfrequencycommand.h"
#include "devicecomplexcommands/orvimfixedframecommands.h"
#include "devicecomplexcommands/orvimgetdatafromeepromcommand.h"
#include "devicecomplexcommands/orvimsetdatatoeepromcommand.h"
#include "devicecomplexcommands/orvimsetprogidcommand.h"
#include "devicecomplexcommands/orvimsinglerequestcommands.h"
#include "devicecomplexcommands/orvimwriteecgmodecommand.h"
#include "usb/complexcommandfactory.h"
#include "usb/complexdatacommandcreator.h"
#include "usb/complexmultidatacommandcreator.h"
#include "usb/usbdevicemanager.h"

namespace Tavrix::DeviceComplexCommands {

using Usb::ByteCommandQueue;
using Usb::ComplexDataCommandCreator;
using Usb::ComplexMultidataCommandCreator;
using Usb::UsbDeviceManager;

void OrvimOperationCreators::registerCreators(Usb::ComplexCommandFactory& f,
                                              UsbDeviceManager* manager,
                                              Usb::UsbEventLoopWorker* worker)
{
    ByteCommandQueue* const queue = manager ? manager->queue() : nullptr;

    f.add("OrvimCheckSpecialFirmwareExist",
          std::make_shared<ComplexDataCommandCreator<OrvimCheckSpecialFirmwareExistCommand, unsigned, ByteCommandQueue*>>(
              queue));
    f.add("OrvimWriteEcgMode",
          std::make_shared<ComplexMultidataCommandCreator<OrvimWriteEcgModeCommand, 2, unsigned, Usb::UsbDevice::EEcgMode,
                                                          Usb::UsbEventLoopWorker*>>(worker));
    f.add("OrvimReadEcgMode",
          std::make_shared<ComplexDataCommandCreator<OrvimReadEcgModeCommand, unsigned, ByteCommandQueue*>>(queue));
    f.add("OrvimRestart",
          std::make_shared<ComplexDataCommandCreator<OrvimRestartCommand, unsigned, ByteCommandQueue*>>(queue));
    f.add("OrvimReadNumber",
          std::make_shared<ComplexDataCommandCreator<OrvimReadNumberCommand, unsigned, ByteCommandQueue*>>(queue));
    f.add("OrvimReadGuiVersion",
          std::make_shared<ComplexDataCommandCreator<OrvimReadGuiVersionCommand, unsigned, ByteCommandQueue*>>(queue));
    f.add("OrvimReadPower",
          std::make_shared<ComplexDataCommandCreator<OrvimGetPowerCommand, unsigned, UsbDeviceManager*>>(manager));
    f.add("OrvimSetDataToEeprom",
          std::make_shared<ComplexMultidataCommandCreator<OrvimSetDataToEepromCommand, 2, unsigned, EepromDataRecord,
                                                          UsbDeviceManager*>>(manager));
    f.add("OrvimGetDataFromEeprom",
          std::make_shared<ComplexMultidataCommandCreator<OrvimGetDataFromEepromCommand, 3, unsigned, uint16_t, uint16_t,
                                                          UsbDeviceManager*>>(manager));
    f.add("OrvimBeginWriting",
          std::make_shared<ComplexDataCommandCreator<OrvimBeginWritingCommand, unsigned,
                                                     OrvimBeginWritingCommand::EStartParams, UsbDeviceManager*>>(
              OrvimBeginWritingCommand::EStartParams::Recording, manager));
    f.add("OrvimStopWriting",
          std::make_shared<ComplexDataCommandCreator<OrvimStopWritingCommand, unsigned, UsbDeviceManager*>>(manager));
    f.add("OrvimSetProgId",
          std::make_shared<ComplexMultidataCommandCreator<OrvimSetProgIdCommand, 2, unsigned, uint8_t, UsbDeviceManager*>>(
              manager));
    f.add("OrvimSetTime",
          std::make_shared<ComplexMultidataCommandCreator<OrvimSetTimeCommand, 2, unsigned, Common::DateTimeObject,
                                                          UsbDeviceManager*>>(manager));
    f.add("OrvimGetFrequency",
          std::make_shared<ComplexDataCommandCreator<OrvimGetFrequencyCommand, unsigned, UsbDeviceManager*>>(manager));
    f.add("OrvimGetWritingState",
          std::make_shared<ComplexDataCommandCreator<OrvimGetWritingStateCommand, unsigned, UsbDeviceManager*>>(manager));
    f.add("OrvimGetPel",
          std::make_shared<ComplexDataCommandCreator<OrvimGetPelCommand, unsigned, UsbDeviceManager*>>(manager));
    f.add("OrvimSetPel",
          std::make_shared<ComplexMultidataCommandCreator<OrvimSetPelCommand, 2, unsigned, bool, UsbDeviceManager*>>(
              manager));
    f.add("GetExternAccFrequency", std::make_shared<ComplexDataCommandCreator<GetExternAccFrequencyCommand, unsigned>>());
}


} // namespace Tavrix::DeviceComplexCommands
