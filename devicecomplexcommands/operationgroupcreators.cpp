#include "devicecomplexcommands/operationgroupcreators.h"

#include "devicecomplexcommands/calibrationcommands.h"
#include "devicecomplexcommands/orvimcablecommands.h"
#include "devicecomplexcommands/orvimflashcommands.h"
#include "devicecomplexcommands/orvimsetexaminationinfocommand.h"
#include "usb/complexcommandfactory.h"
#include "usb/complexdatacommandcreator.h"
#include "usb/complexmultidatacommandcreator.h"
#include "usb/usbdevicemanager.h"

namespace Tavrix::DeviceComplexCommands {

using Usb::ByteCommandQueue;
using Usb::ComplexDataCommandCreator;
using Usb::ComplexMultidataCommandCreator;
using Usb::UsbDeviceManager;

void OperationGroupCreators::registerCalibration(Usb::ComplexCommandFactory& factory, UsbDeviceManager* manager)
{
    ByteCommandQueue* const queue = manager->queue();
    constexpr int ecgChannels = 8;
    factory.add("OrvimReadEcgLsb",
                    std::make_shared<ComplexDataCommandCreator<OrvimReadEcgLsbCommand, unsigned, ByteCommandQueue*, int>>(
                        queue, ecgChannels));
    factory.add("CardiographReadEcgLsb",
                    std::make_shared<ComplexDataCommandCreator<CardiographReadEcgLsbCommand, unsigned, int>>(ecgChannels));
    factory.add("CardiographReadExternAccLsb",
                    std::make_shared<ComplexDataCommandCreator<CardiographReadExternAccLsbCommand, unsigned>>());
    factory.add("OrvimReadExternAccLsb",
                    std::make_shared<ComplexDataCommandCreator<OrvimReadExternAccLsbCommand, unsigned, ByteCommandQueue*>>(queue));
    factory.add("OrvimWriteExternAccDefaultCalibration",
                    std::make_shared<ComplexDataCommandCreator<OrvimWriteExternAccDefaultCalibrationCommand, unsigned,
                                                               ByteCommandQueue*>>(queue));
    factory.add("ReadInnerChannelsCalibration",
                    std::make_shared<ComplexDataCommandCreator<ReadInnerChannelsCalibrationCommand, unsigned,
                                                               ByteCommandQueue*>>(queue));
    factory.add("ReadExternAccCalibration",
                    std::make_shared<ComplexDataCommandCreator<ReadExternAccCalibrationCommand, unsigned,
                                                               ByteCommandQueue*>>(queue));
    factory.add("OrvimReadInnerChannelsLsb",
                    std::make_shared<Usb::ComplexMultidataCommandCreator<
                        OrvimReadInnerChannelsLsbCommand, 2, unsigned, OrvimReadInnerChannelsLsbCommand::LsbTable,
                        ByteCommandQueue*>>(queue));
    factory.add("ReadExternAccCalibrationPoints",
                    std::make_shared<ComplexDataCommandCreator<ReadExternAccCalibrationPointsCommand, unsigned,
                                                               ByteCommandQueue*>>(queue));
}

void OperationGroupCreators::registerCable(Usb::ComplexCommandFactory& factory, UsbDeviceManager* manager)
{
    ByteCommandQueue* const queue = manager->queue();
    factory.add("OrvimWriteCableInfo",
                    std::make_shared<ComplexMultidataCommandCreator<OrvimWriteCableInfoCommand, 2, unsigned,
                                                                    Usb::CableInfo, ByteCommandQueue*>>(queue));
    factory.add("OrvimWriteCableSetupCounter",
                    std::make_shared<ComplexMultidataCommandCreator<OrvimWriteCableSetupCounterCommand, 2, unsigned,
                                                                    unsigned, ByteCommandQueue*>>(queue));
    factory.add("OrvimReadCableInfo",
                    std::make_shared<ComplexDataCommandCreator<OrvimReadCableInfoCommand, unsigned, ByteCommandQueue*>>(queue));
    factory.add("OrvimReadCableExist",
                    std::make_shared<ComplexDataCommandCreator<OrvimReadCableExistCommand, unsigned, ByteCommandQueue*>>(queue));
    factory.add("OrvimReadCableVersion",
                    std::make_shared<ComplexDataCommandCreator<OrvimReadCableVersionCommand, unsigned, ByteCommandQueue*>>(queue));
    factory.add("GetCableLeadType",
                    std::make_shared<ComplexDataCommandCreator<GetCableLeadTypeCommand, unsigned, Usb::UsbDeviceManager*>>(
                        manager));
}

void OperationGroupCreators::registerExamination(Usb::ComplexCommandFactory& factory, UsbDeviceManager* manager)
{
    factory.add("OrvimSetExaminationInfo",
                    std::make_shared<Usb::ComplexMultidataCommandCreator<OrvimSetExaminationInfoCommand, 2, unsigned,
                                                                         ExaminationInfo, Usb::UsbDeviceManager*>>(
                        manager));
    // The EEPROM portion commands ("OrvimSetDataToEeprom", "OrvimGetDataFromEeprom")
    // are registered with the other single-request operations.
}

void OperationGroupCreators::registerFlash(Usb::ComplexCommandFactory& factory, UsbDeviceManager* manager, Usb::UsbDataListener* listener)
{
    using AddressCreator = ComplexDataCommandCreator<OrvimGetAddressCommand, unsigned, std::string, std::string,
                                                     UsbDeviceManager*>;
    factory.add("OrvimGetMinAddress", std::make_shared<AddressCreator>("GetMinAddress", "ReadMinAddress", manager));
    factory.add("OrvimGetMaxAddress", std::make_shared<AddressCreator>("GetMaxAddress", "ReadMaxAddress", manager));
    factory.add("OrvimGetWrittenMaxAddress",
                    std::make_shared<AddressCreator>("GetWrittenMaxAddress", "ReadWrittenMaxAddress", manager));
    factory.add("OrvimGetWrittenFlashDataCount",
                    std::make_shared<ComplexDataCommandCreator<OrvimGetWrittenFlashDataCountCommand, unsigned,
                                                               UsbDeviceManager*>>(manager));
    factory.add("OrvimStartReceiveFlashData",
                    std::make_shared<ComplexDataCommandCreator<OrvimStartReceiveFlashDataCommand, unsigned,
                                                               UsbDeviceManager*, Usb::UsbDataListener*>>(manager,
                                                                                                         listener));
}

} // namespace Tavrix::DeviceComplexCommands
