#pragma once

#include "usb/bytecommand.h"
#include "usb/bytecommandqueue.h"
#include "usb/complexcommand.h"
#include "usb/complexcommandcreatedata.h"
#include "usb/devicecommandstatus.h"
#include "usb/devicecommandstatuscreator.h"
#include "usb/launchedsimplecommandinfo.h"
#include "usb/usbdevicecommandset.h"
#include "usb/usbdevicemanager.h"

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

// The one way to send a request frame and the one way to run a device
// operation, for the operations themselves, their web front ends and the
// device manager alike.
namespace Tavrix::Usb {

using RunningOperations = std::unordered_map<ComplexCommand*, std::shared_ptr<ComplexCommand>>;

constexpr int answerTimeoutMs = 1000;

namespace Detail {

// Connects the byte command's answer to `handler`, which takes either
// (answer, status) or the signal's own (command, answer, status).
template<typename Receiver, typename Handler>
void connectAnswer(ByteCommand* command, Receiver* receiver, Handler handler)
{
    if constexpr (std::is_invocable_v<Handler&, const std::vector<uint8_t>&, int32_t>) {
        QObject::connect(command, &ByteCommand::answerIsReady, receiver,
                         [handler](std::shared_ptr<ByteCommand>, std::vector<uint8_t> answer,
                                   int32_t status) mutable { handler(answer, status); });
    } else {
        QObject::connect(command, &ByteCommand::answerIsReady, receiver, handler);
    }
}

template<typename Receiver, typename Handler>
std::shared_ptr<DeviceCommandStatus> enqueue(Receiver* receiver,
                                             ByteCommandQueue* queue,
                                             const std::string& name,
                                             unsigned int uid,
                                             std::vector<uint8_t> bytes,
                                             Handler handler,
                                             int timeoutMs)
{
    auto command = std::make_shared<ByteCommand>(name, uid, std::move(bytes), timeoutMs);
    connectAnswer(command.get(), receiver, std::move(handler));
    queue->enqueue(command);
    return std::make_shared<DeviceCommandStatus>(DeviceCommand::OK);
}

// The signal may be declared by a base of Op (one operation class under two
// names).
template<typename Receiver, typename Handler, typename Op, typename SignalOwner, typename... Args>
void connectOperation(void (SignalOwner::*signal)(Args...),
                      Op* operation,
                      RunningOperations& running,
                      Receiver* receiver,
                      Handler handler)
{
    QObject::connect(operation, signal, receiver, [&running, operation, receiver, handler](Args... values) {
        const auto found = running.find(operation);
        if (found == running.end())
            return; // a second answer: the first one was taken already
        // Out of the map before the handler runs, alive until it returns.
        const std::shared_ptr<ComplexCommand> keep = found->second;
        running.erase(found);
        if constexpr (std::is_member_function_pointer_v<Handler>)
            (receiver->*handler)(values...);
        else
            handler(values...);
    });
}

} // namespace Detail

// Queues the ready frame `bytes` as byte command `name` with a fresh uid;
// `handler` receives its answer with `receiver` as context, so a released
// receiver hears nothing. DEVICE_DISCONNECTED without a queue.
template<typename Receiver, typename Handler>
std::shared_ptr<DeviceCommandStatus> sendRequest(Receiver* receiver,
                                                 ByteCommandQueue* queue,
                                                 const std::string& name,
                                                 std::vector<uint8_t> bytes,
                                                 Handler handler,
                                                 int timeoutMs = answerTimeoutMs)
{
    if (!queue)
        return DeviceCommandStatusCreator::create({}, DeviceCommand::DEVICE_DISCONNECTED);
    return Detail::enqueue(receiver, queue, name, queue->generateUid(), std::move(bytes), std::move(handler),
                           timeoutMs);
}

// The same for the simple command `name` of the connected device's
// description with `arguments`, encoded by the manager's command set; an
// encoding failure is returned and nothing is sent.
template<typename Receiver, typename Handler>
std::shared_ptr<DeviceCommandStatus> sendDescribedRequest(Receiver* receiver,
                                                          UsbDeviceManager* manager,
                                                          const std::string& name,
                                                          std::vector<uint8_t> arguments,
                                                          Handler handler,
                                                          int timeoutMs = answerTimeoutMs)
{
    if (!manager)
        return DeviceCommandStatusCreator::create({}, DeviceCommand::DEVICE_DISCONNECTED);
    const unsigned int uid = manager->generateUid();
    auto launched = std::make_shared<LaunchedSimpleCommandInfo>(name, uid, std::move(arguments));
    std::vector<uint8_t> bytes;
    const DeviceCommand::EStatus encoded = manager->commandSet()->createCommandBytes(launched, bytes);
    if (encoded != DeviceCommand::OK)
        return DeviceCommandStatusCreator::create({}, encoded);
    return Detail::enqueue(receiver, manager->queue(), name, uid, std::move(bytes), std::move(handler), timeoutMs);
}

// Runs `operation`: keeps it in `running` until it answers, connects its
// answerIsReady to `handler` (a member of `receiver`, or a callable, with
// the signal's parameters) and executes it. The operation leaves `running`
// just before `handler` runs and lives until the handler returns. Returns
// the start status: on a failure the operation is dropped at once and no
// answer follows; an empty operation gives NOT_EXIST.
template<typename Op, typename Receiver, typename Handler>
std::shared_ptr<DeviceCommandStatus> runOperation(std::shared_ptr<Op> operation,
                                                  RunningOperations& running,
                                                  Receiver* receiver,
                                                  Handler handler)
{
    if (!operation)
        return DeviceCommandStatusCreator::create({}, DeviceCommand::NOT_EXIST);
    Op* const key = operation.get();
    running[key] = operation;
    Detail::connectOperation(&Op::answerIsReady, key, running, receiver, std::move(handler));
    std::shared_ptr<DeviceCommandStatus> status = key->execute();
    if (!status)
        status = std::make_shared<DeviceCommandStatus>(DeviceCommand::UNKNOWN_ERROR);
    if (status->status != DeviceCommand::OK)
        running.erase(key);
    return status;
}

// Creates the operation `name` for the connected device with `data` and
// runs it as runOperation() does; NOT_EXIST when the device's description
// does not bind it to a handler of class Op.
template<typename Op, typename Receiver, typename Handler>
std::shared_ptr<DeviceCommandStatus> runNamedOperation(UsbDeviceManager* manager,
                                                       const std::string& name,
                                                       std::shared_ptr<IComplexCommandCreateData> data,
                                                       RunningOperations& running,
                                                       Receiver* receiver,
                                                       Handler handler)
{
    if (!manager)
        return DeviceCommandStatusCreator::create({}, DeviceCommand::DEVICE_DISCONNECTED);
    auto operation = std::dynamic_pointer_cast<Op>(manager->commandSet()->createComplexCommand(name, std::move(data)));
    return runOperation(std::move(operation), running, receiver, std::move(handler));
}

// The same for an operation without arguments, with a fresh uid.
template<typename Op, typename Receiver, typename Handler>
std::shared_ptr<DeviceCommandStatus> runNamedOperation(UsbDeviceManager* manager,
                                                       const std::string& name,
                                                       RunningOperations& running,
                                                       Receiver* receiver,
                                                       Handler handler)
{
    if (!manager)
        return DeviceCommandStatusCreator::create({}, DeviceCommand::DEVICE_DISCONNECTED);
    return runNamedOperation<Op>(manager, name, std::make_shared<ComplexCommandCreateData<unsigned>>(manager->generateUid()),
                                 running, receiver, std::move(handler));
}

} // namespace Tavrix::Usb
