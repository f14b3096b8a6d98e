#pragma once

#include "devicecomplexcommands/orvimreadvaluecommand.h"
#include "devicewebapi/devicecommandlinker.h"
#include "devicewebapi/singlevaluejsoncommand.h"
#include "net/webapi/jsoncommandfactory.h"
#include "usb/complexdatacommandcreator.h"

#include <QJsonValue>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Tavrix::Usb {
class AdcChannelsManager;
class ByteCommandQueue;
class ComplexCommandFactory;
class IComplexCommandCreator;
class UsbDataListener;
class UsbDeviceManager;
}
namespace Tavrix::Net::WebApi {
class JsonCommandDescription;
}

namespace Tavrix::DeviceWebApi {

// What the rows of the binding tables are made with: the USB worker's parts
// and the services the composition root owns.
struct LinkContext
{
    Usb::UsbEventLoopWorker* worker;
    Usb::UsbDeviceManager* manager;
    Usb::ByteCommandQueue* queue;
    Usb::UsbDataListener* listener;
    std::shared_ptr<Usb::AdcChannelsManager> channels;
    Net::WebApi::JsonCommandFactory* webCommands;
    Archive::FlashReadoutStore* readouts;
    Archive::SignalRecorder* recorder;
    BeatDetectorLink* beats = nullptr;
    Archive::RestingEcgArchive* restingEcg = nullptr;
};

// One row of an operation family: the web command, the handler name that
// the description files bind to its operation and the creator of that
// operation, together. A row may have only the web command (a front end
// that sends simple commands itself, or runs operations of other rows) or
// only the handler (an operation that other operations or the device
// manager run).
struct OperationBinding
{
    // The web command's description; null for a row without web command.
    std::function<std::shared_ptr<Net::WebApi::JsonCommandDescription>()> describe;
    // Registers the web command with the description made by `describe`.
    std::function<void(const LinkContext&, std::shared_ptr<Net::WebApi::JsonCommandDescription>)> addWebCommand;
    // The handler name of the description files; empty for no operation.
    std::string handler;
    std::function<std::shared_ptr<Usb::IComplexCommandCreator>(const LinkContext&)> makeCreator;
    // The operations the web command runs: its own name unless listed here;
    // "-" for none.
    std::vector<std::string> operations;
    // The simple commands of the device description that this row's
    // operation (or, without operation, its web command) sends.
    std::vector<std::string> simpleCommands;
};

// An operation created from its uid alone, with the fixed values given.
template<typename Operation, typename... Fixed>
std::shared_ptr<Usb::IComplexCommandCreator> fromUid(Fixed... fixed)
{
    return std::make_shared<Usb::ComplexDataCommandCreator<Operation, unsigned, Fixed...>>(fixed...);
}

// A read of one value with one described request, whose web command answers
// {key: value}: its front end (SingleValueJsonCommand) and its Orvim
// operation (OrvimReadValueCommand) are generic, so the row is all the code
// such a read needs besides its one-signal operation class `Operation`.
template<typename Operation, typename Value>
OperationBinding valueRead(std::string command,
                           std::string key,
                           Net::WebApi::EJsonUnitType type,
                           std::string handler,
                           DeviceComplexCommands::ValueRead<Value> read)
{
    using FrontEnd = SingleValueJsonCommand<Operation, Value>;
    using Realisation = DeviceComplexCommands::OrvimReadValueCommand<Operation, Value>;
    OperationBinding row;
    row.describe = [command, key, type] { return FrontEnd::describe(command, key, type); };
    row.addWebCommand = [](const LinkContext& c, std::shared_ptr<Net::WebApi::JsonCommandDescription> description) {
        c.webCommands->add<FrontEnd>(std::move(description), c.manager,
                                     [](Value value) { return QJsonValue(qint64(value)); });
    };
    row.handler = std::move(handler);
    row.simpleCommands = {read.simpleCommand};
    row.makeCreator = [command, read](const LinkContext& c) {
        return fromUid<Realisation>(command, read, c.manager);
    };
    return row;
}

// Every family's table, in registration order: the web command list
// ("GetCmdList") keeps this order.
const std::vector<OperationBinding>& operationBindings();

// Registers the operation of every row under its handler name. Without a
// worker or data listener the operations that need them get null (tests of
// operations that do not use them).
void registerOperations(Usb::ComplexCommandFactory& factory,
                        Usb::UsbDeviceManager* manager,
                        Usb::UsbEventLoopWorker* worker = nullptr,
                        Usb::UsbDataListener* listener = nullptr);

// The operations a row's web command runs (empty when none).
std::vector<std::string> operationsOf(const OperationBinding& row);

} // namespace Tavrix::DeviceWebApi
