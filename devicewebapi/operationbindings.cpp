#include "devicewebapi/operationbindings.h"

#include "devicecomplexcommands/calibrationcommands.h"
#include "devicecomplexcommands/eepromdatarecord.h"
#include "devicecomplexcommands/getexternaccfrequencycommand.h"
#include "devicecomplexcommands/orvimcablecommands.h"
#include "devicecomplexcommands/orvimfixedframecommands.h"
#include "devicecomplexcommands/orvimflashcommands.h"
#include "devicecomplexcommands/orvimgetdatafromeepromcommand.h"
#include "devicecomplexcommands/orvimgettimecommand.h"
#include "devicecomplexcommands/orvimsetdatatoeepromcommand.h"
#include "devicecomplexcommands/orvimsetexaminationinfocommand.h"
#include "devicecomplexcommands/orvimsetprogidcommand.h"
#include "devicecomplexcommands/orvimsinglerequestcommands.h"
#include "devicecomplexcommands/orvimwriteecgmodecommand.h"
#include "devicewebapi/cablejsoncommands.h"
#include "devicewebapi/calibrationjsoncommands.h"
#include "devicewebapi/checkspecialfirmwareexistjsoncommand.h"
#include "devicewebapi/examinationjsoncommands.h"
#include "devicewebapi/flashjsoncommands.h"
#include "devicewebapi/getcmdlistjsoncommand.h"
#include "devicewebapi/getdeviceinfojsoncommand.h"
#include "devicewebapi/getexaminationinfojsoncommand.h"
#include "devicewebapi/getexternaccfrequencyjsoncommand.h"
#include "devicewebapi/getflashmemoryinfojsoncommand.h"
#include "devicewebapi/getheartratejsoncommand.h"
#include "devicewebapi/getpeljsoncommand.h"
#include "devicewebapi/gettimejsoncommand.h"
#include "devicewebapi/getwritingstatejsoncommand.h"
#include "devicewebapi/readecgmodejsoncommand.h"
#include "devicewebapi/restingecgjsoncommands.h"
#include "devicewebapi/restartjsoncommand.h"
#include "devicewebapi/setpeljsoncommand.h"
#include "devicewebapi/setprogidjsoncommand.h"
#include "devicewebapi/settimejsoncommand.h"
#include "devicewebapi/signalrecordingjsoncommands.h"
#include "devicewebapi/startwritingjsoncommand.h"
#include "devicewebapi/stopwritingjsoncommand.h"
#include "devicewebapi/turnswitchjsoncommand.h"
#include "devicewebapi/writeecgmodejsoncommand.h"
#include "net/webapi/jsoncommandfactory.h"
#include "usb/complexcommandfactory.h"
#include "usb/complexdatacommandcreator.h"
#include "usb/complexmultidatacommandcreator.h"
#include "usb/usbeventloopworker.h"

namespace Tavrix::DeviceWebApi {

using namespace DeviceComplexCommands;
using Net::WebApi::JsonCommandDescription;
using CreatorPtr = std::shared_ptr<Usb::IComplexCommandCreator>;
using DescriptionPtr = std::shared_ptr<JsonCommandDescription>;

namespace {

template<typename WebCommand>
DescriptionPtr describe()
{
    return WebCommand::createCommandDescription();
}

// Most web commands need the device manager only.
template<typename WebCommand>
void withManager(const LinkContext& c, DescriptionPtr description)
{
    c.webCommands->add<WebCommand>(std::move(description), c.manager);
}


// An operation created from its uid and the request values Data...
template<typename Operation, typename... Data>
struct FromData
{
    template<typename... Fixed>
    static CreatorPtr with(Fixed... fixed)
    {
        return std::make_shared<
            Usb::ComplexMultidataCommandCreator<Operation, 1 + sizeof...(Data), unsigned, Data..., Fixed...>>(fixed...);
    }
};

template<typename WebCommand>
OperationBinding web(std::string handler = {},
                     CreatorPtr (*makeCreator)(const LinkContext&) = nullptr,
                     std::vector<std::string> simpleCommands = {},
                     void (*add)(const LinkContext&, DescriptionPtr) = &withManager<WebCommand>,
                     std::vector<std::string> operations = {})
{
    return {&describe<WebCommand>, add, std::move(handler), makeCreator, std::move(operations),
            std::move(simpleCommands)};
}

OperationBinding operationOnly(std::string handler,
                               CreatorPtr (*makeCreator)(const LinkContext&),
                               std::vector<std::string> simpleCommands = {})
{
    return {nullptr, nullptr, std::move(handler), makeCreator, {}, std::move(simpleCommands)};
}

const std::vector<std::string> none{"-"};

std::vector<OperationBinding> makeBindings()
{
    return {
        // --- the command list and the clock ----------------------------------
        web<GetCmdListJsonCommand>({}, nullptr, {},
                                   [](const LinkContext& c, DescriptionPtr d) { c.webCommands->add<GetCmdListJsonCommand>(d, c.webCommands); },
                                   none),
        // The service's own beat detector answers; no device operation.
        web<GetHeartRateJsonCommand>({}, nullptr, {},
                                     [](const LinkContext& c, DescriptionPtr d) { c.webCommands->add<GetHeartRateJsonCommand>(d, c.beats); },
                                     none),
        web<GetTimeJsonCommand>("OrvimGetTime", [](const LinkContext& c) { return fromUid<OrvimGetTimeCommand>(c.manager); },
                                {"ReadRtc"}),

        // --- single-request operations ---------------------------------------
        web<CheckSpecialFirmwareExistJsonCommand>(
            "OrvimCheckSpecialFirmwareExist",
            [](const LinkContext& c) { return fromUid<OrvimCheckSpecialFirmwareExistCommand>(c.queue); }),
        web<WriteEcgModeJsonCommand>("OrvimWriteEcgMode", [](const LinkContext& c) {
            return FromData<OrvimWriteEcgModeCommand, Usb::UsbDevice::EEcgMode>::with(c.worker);
        }),
        web<ReadEcgModeJsonCommand>("OrvimReadEcgMode",
                                    [](const LinkContext& c) { return fromUid<OrvimReadEcgModeCommand>(c.queue); }),
        web<RestartJsonCommand>("OrvimRestart", [](const LinkContext& c) { return fromUid<OrvimRestartCommand>(c.queue); }),
        valueRead<GetPowerCommand, uint16_t>("GetPower", "Power", Net::WebApi::EJsonUnitType::Int, "OrvimReadPower",
                                             powerRead()),
        web<StartWritingJsonCommand>("OrvimBeginWriting",
                                     [](const LinkContext& c) {
                                         return fromUid<OrvimBeginWritingCommand>(
                                             OrvimBeginWritingCommand::EStartParams::Recording, c.manager);
                                     },
                                     {"WriteRecordMode"}),
        web<StopWritingJsonCommand>("OrvimStopWriting",
                                    [](const LinkContext& c) { return fromUid<OrvimStopWritingCommand>(c.manager); },
                                    {"WriteRecordMode"}),
        web<SetProgIdJsonCommand>("OrvimSetProgId",
                                  [](const LinkContext& c) { return FromData<OrvimSetProgIdCommand, uint8_t>::with(c.manager); }),
        web<SetTimeJsonCommand>(
            "OrvimSetTime",
            [](const LinkContext& c) { return FromData<OrvimSetTimeCommand, Common::DateTimeObject>::with(c.manager); },
            {"WriteRtc"}),
        valueRead<GetFrequencyCommand, uint16_t>("GetFrequency", "Frequency", Net::WebApi::EJsonUnitType::Int,
                                                 "OrvimGetFrequency", frequencyRead()),
        web<GetExternAccFrequencyJsonCommand>("GetExternAccFrequency",
                                              [](const LinkContext&) { return fromUid<GetExternAccFrequencyCommand>(); }),
        web<GetWritingStateJsonCommand>("OrvimGetWritingState",
                                        [](const LinkContext& c) { return fromUid<OrvimGetWritingStateCommand>(c.manager); },
                                        {"ReadWritingState"}),
        web<GetPelJsonCommand>("OrvimGetPel", [](const LinkContext& c) { return fromUid<OrvimGetPelCommand>(c.manager); },
                               {"ReadReoAndPel"}),
        web<SetPelJsonCommand>("OrvimSetPel",
                               [](const LinkContext& c) { return FromData<OrvimSetPelCommand, bool>::with(c.manager); },
                               {"ReadReoAndPel", "WriteReoAndPel"}),
        web<TurnVentJsonCommand>({}, nullptr, {"TurnVent"}, &withManager<TurnVentJsonCommand>, none),
        web<TurnPumpJsonCommand>({}, nullptr, {"TurnPump"}, &withManager<TurnPumpJsonCommand>, none),
        operationOnly("OrvimReadNumber", [](const LinkContext& c) { return fromUid<OrvimReadNumberCommand>(c.queue); }),
        operationOnly("OrvimReadGuiVersion",
                      [](const LinkContext& c) { return fromUid<OrvimReadGuiVersionCommand>(c.queue); }),
        operationOnly("OrvimSetDataToEeprom",
                      [](const LinkContext& c) { return FromData<OrvimSetDataToEepromCommand, EepromDataRecord>::with(c.manager); },
                      {"WriteToEeprom"}),
        operationOnly("OrvimGetDataFromEeprom",
                      [](const LinkContext& c) {
                          return FromData<OrvimGetDataFromEepromCommand, uint16_t, uint16_t>::with(c.manager);
                      },
                      {"ReadFromEeprom"}),

        // --- device information (fixed and described request chains) --------
        web<GetDeviceInfoJsonCommand>({}, nullptr, {"ReadNumber", "ReadGuiVersion", "ReadRevision", "ReadIdInv"},
                                      &withManager<GetDeviceInfoJsonCommand>, none),
        web<GetFlashMemoryInfoJsonCommand>({}, nullptr, {"ReadMaxAddress", "ReadMinAddress"},
                                           &withManager<GetFlashMemoryInfoJsonCommand>, none),

        // --- calibration -----------------------------------------------------
        web<ReadInnerChannelsCalibrationJsonCommand>(
            "ReadInnerChannelsCalibration",
            [](const LinkContext& c) { return fromUid<ReadInnerChannelsCalibrationCommand>(c.queue); }, {},
            [](const LinkContext& c, DescriptionPtr d) {
                c.webCommands->add<ReadInnerChannelsCalibrationJsonCommand>(d, c.manager, c.channels);
            }),
        web<ReadExternAccCalibrationJsonCommand>(
            "ReadExternAccCalibration",
            [](const LinkContext& c) { return fromUid<ReadExternAccCalibrationCommand>(c.queue); }, {},
            [](const LinkContext& c, DescriptionPtr d) {
                c.webCommands->add<ReadExternAccCalibrationJsonCommand>(d, c.manager, c.channels);
            }),
        web<ReadExternAccCalibrationPointsJsonCommand>(
            "ReadExternAccCalibrationPoints",
            [](const LinkContext& c) { return fromUid<ReadExternAccCalibrationPointsCommand>(c.queue); }),
        web<WriteExternAccDefaultCalibrationJsonCommand>(
            "OrvimWriteExternAccDefaultCalibration",
            [](const LinkContext& c) { return fromUid<OrvimWriteExternAccDefaultCalibrationCommand>(c.queue); }),
        operationOnly("OrvimReadEcgLsb", [](const LinkContext& c) {
            constexpr int ecgChannels = 8;
            return fromUid<OrvimReadEcgLsbCommand>(c.queue, ecgChannels);
        }),
        operationOnly("CardiographReadEcgLsb", [](const LinkContext&) {
            constexpr int ecgChannels = 8;
            return fromUid<CardiographReadEcgLsbCommand>(ecgChannels);
        }),
        operationOnly("CardiographReadExternAccLsb",
                      [](const LinkContext&) { return fromUid<CardiographReadExternAccLsbCommand>(); }),
        operationOnly("OrvimReadExternAccLsb",
                      [](const LinkContext& c) { return fromUid<OrvimReadExternAccLsbCommand>(c.queue); }),
        operationOnly("OrvimReadInnerChannelsLsb", [](const LinkContext& c) {
            return FromData<OrvimReadInnerChannelsLsbCommand, OrvimReadInnerChannelsLsbCommand::LsbTable>::with(c.queue);
        }),

        // --- cable information -----------------------------------------------
        web<GetCableLeadTypeJsonCommand>("GetCableLeadType",
                                         [](const LinkContext& c) { return fromUid<GetCableLeadTypeCommand>(c.manager); }),
        web<ReadCableInfoJsonCommand>("OrvimReadCableInfo",
                                      [](const LinkContext& c) { return fromUid<OrvimReadCableInfoCommand>(c.queue); }),
        web<WriteCableInfoJsonCommand>("OrvimWriteCableInfo", [](const LinkContext& c) {
            return FromData<OrvimWriteCableInfoCommand, Usb::CableInfo>::with(c.queue);
        }),
        web<WriteCableSetupCounterJsonCommand>("OrvimWriteCableSetupCounter", [](const LinkContext& c) {
            return FromData<OrvimWriteCableSetupCounterCommand, unsigned>::with(c.queue);
        }),
        web<ReadCableVersionJsonCommand>("OrvimReadCableVersion",
                                         [](const LinkContext& c) { return fromUid<OrvimReadCableVersionCommand>(c.queue); }),
        web<ReadCableExistJsonCommand>("OrvimReadCableExist",
                                       [](const LinkContext& c) { return fromUid<OrvimReadCableExistCommand>(c.queue); }),

        // --- examination information -----------------------------------------
        web<SetExaminationInfoJsonCommand>("OrvimSetExaminationInfo",
                                           [](const LinkContext& c) {
                                               return FromData<OrvimSetExaminationInfoCommand, ExaminationInfo>::with(
                                                   c.manager);
                                           },
                                           {"WriteLeadType", "WriteExamInfo"}),
        web<GetExamFileNameJsonCommand>({}, nullptr, {}, &withManager<GetExamFileNameJsonCommand>, {"GetDataFromEeprom"}),
        web<GetExaminationInfoJsonCommand>({}, nullptr, {},
                                           [](const LinkContext& c, DescriptionPtr d) {
                                               c.webCommands->add<GetExaminationInfoJsonCommand>(
                                                   d, std::weak_ptr<Usb::AdcChannelsManager>(c.channels));
                                           },
                                           none),

        // --- flash memory read-out -------------------------------------------
        operationOnly("OrvimGetMinAddress",
                      [](const LinkContext& c) {
                          return fromUid<OrvimGetAddressCommand>(std::string("GetMinAddress"),
                                                                 std::string("ReadMinAddress"), c.manager);
                      },
                      {"ReadMinAddress"}),
        operationOnly("OrvimGetMaxAddress",
                      [](const LinkContext& c) {
                          return fromUid<OrvimGetAddressCommand>(std::string("GetMaxAddress"),
                                                                 std::string("ReadMaxAddress"), c.manager);
                      },
                      {"ReadMaxAddress"}),
        operationOnly("OrvimGetWrittenMaxAddress",
                      [](const LinkContext& c) {
                          return fromUid<OrvimGetAddressCommand>(std::string("GetWrittenMaxAddress"),
                                                                 std::string("ReadWrittenMaxAddress"), c.manager);
                      },
                      {"ReadWrittenMaxAddress"}),
        web<GetWrittenFlashDataCountJsonCommand>(
            "OrvimGetWrittenFlashDataCount",
            [](const LinkContext& c) { return fromUid<OrvimGetWrittenFlashDataCountCommand>(c.manager); }),
        web<StartReceiveFlashDataJsonCommand>("OrvimStartReceiveFlashData",
                                              [](const LinkContext& c) {
                                                  return fromUid<OrvimStartReceiveFlashDataCommand>(c.manager, c.listener);
                                              },
                                              {"StopDataReading", "StartDataReading"}),

        // --- signal recording ------------------------------------------------
        web<StartSignalRecordingJsonCommand>({}, nullptr, {},
                                             [](const LinkContext& c, DescriptionPtr d) {
                                                 if (c.recorder)
                                                 c.webCommands->add<StartSignalRecordingJsonCommand>(
                                                     d, c.manager, c.recorder,
                                                     std::weak_ptr<Usb::AdcChannelsManager>(c.channels));
                                             },
                                             {"GetFrequency"}),
        web<StopSignalRecordingJsonCommand>({}, nullptr, {},
                                            [](const LinkContext& c, DescriptionPtr d) {
                                                if (c.recorder)
                                                c.webCommands->add<StopSignalRecordingJsonCommand>(d, c.recorder);
                                            },
                                            none),
        web<GetSignalRecordingStateJsonCommand>({}, nullptr, {},
                                                [](const LinkContext& c, DescriptionPtr d) {
                                                    if (c.recorder)
                                                    c.webCommands->add<GetSignalRecordingStateJsonCommand>(
                                                        d, c.recorder, std::weak_ptr<Usb::AdcChannelsManager>(c.channels));
                                                },
                                                none),

        // --- resting ECG and the PACS ------------------------------------------
        web<TakeRestingEcgJsonCommand>({}, nullptr, {},
                                       [](const LinkContext& c, DescriptionPtr d) {
                                           if (c.restingEcg)
                                               c.webCommands->add<TakeRestingEcgJsonCommand>(
                                                   d, c.manager, c.restingEcg,
                                                   std::weak_ptr<Usb::AdcChannelsManager>(c.channels));
                                       },
                                       {"GetFrequency", "ReadNumber"}),
        web<SendToPacsJsonCommand>({}, nullptr, {},
                                   [](const LinkContext& c, DescriptionPtr d) {
                                       if (c.restingEcg)
                                           c.webCommands->add<SendToPacsJsonCommand>(d, c.restingEcg);
                                   },
                                   none),
    };
}

} // namespace

const std::vector<OperationBinding>& operationBindings()
{
    static const std::vector<OperationBinding> bindings = makeBindings();
    return bindings;
}

void registerOperations(Usb::ComplexCommandFactory& factory,
                        Usb::UsbDeviceManager* manager,
                        Usb::UsbEventLoopWorker* worker,
                        Usb::UsbDataListener* listener)
{
    const LinkContext context{worker, manager, manager ? manager->queue() : nullptr, listener, nullptr, nullptr,
                              nullptr, nullptr, nullptr};
    for (const OperationBinding& row : operationBindings())
        if (row.makeCreator)
            factory.add(row.handler, row.makeCreator(context));
}

std::vector<std::string> operationsOf(const OperationBinding& row)
{
    if (!row.describe || row.operations == none)
        return {};
    if (!row.operations.empty())
        return row.operations;
    return {row.describe()->name()};
}

} // namespace Tavrix::DeviceWebApi
