#pragma once

#include <QString>
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
class UsbEventLoopWorker;
}
namespace Tavrix::Net::WebApi {
class JsonCommandDescription;
class JsonCommandFactory;
}

namespace Tavrix::DeviceWebApi {

class FlashReadoutStore;
class SignalRecorder;

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
    FlashReadoutStore* readouts;
    SignalRecorder* recorder;
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
    std::shared_ptr<Net::WebApi::JsonCommandDescription> (*describe)() = nullptr;
    // Registers the web command with the description made by `describe`.
    void (*addWebCommand)(const LinkContext&, std::shared_ptr<Net::WebApi::JsonCommandDescription>) = nullptr;
    // The handler name of the description files; empty for no operation.
    std::string handler;
    std::shared_ptr<Usb::IComplexCommandCreator> (*makeCreator)(const LinkContext&) = nullptr;
    // The operations the web command runs: its own name unless listed here;
    // "-" for none.
    std::vector<std::string> operations;
    // The simple commands of the device description that this row's
    // operation (or, without operation, its web command) sends.
    std::vector<std::string> simpleCommands;
};

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
