#pragma once

#include "usb/bytecommand.h"
#include "usb/bytecommandqueue.h"
#include "usb/complexcommand.h"
#include "usb/complexcommandcreatedata.h"
#include "usb/devicecommandstatus.h"
#include "usb/launchedsimplecommandinfo.h"
#include "usb/usbdevicemanager.h"

#include <QObject>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// The one place where the device operations send frames, run sub-operations
// and judge answers, so that the operations differ only in their data.
namespace Tavrix::DeviceComplexCommands::Exchange {

using StatusPtr = std::shared_ptr<Usb::DeviceCommandStatus>;
using RunningCommands = std::unordered_map<Usb::ComplexCommand*, std::shared_ptr<Usb::ComplexCommand>>;

constexpr int answerTimeoutMs = 1000;
// Code of the frame with which the recorder refuses a request.
constexpr uint8_t refusalCode = 0xEE;

StatusPtr ok();
// WRONG_FRAME_FORMAT keeps the answer bytes; other codes carry none.
StatusPtr failure(int32_t code, const std::vector<uint8_t>& answer = {});

bool isRefusal(const std::vector<uint8_t>& answer);

// Null when the byte command succeeded and its answer is no refusal and
// between minSize and maxSize bytes long; otherwise the status the operation
// ends with (WRONG_FRAME_FORMAT with the answer for a refusal or a bad size).
StatusPtr checkAnswer(const std::vector<uint8_t>& answer,
                      int32_t status,
                      std::size_t minSize = 0,
                      std::size_t maxSize = std::numeric_limits<std::size_t>::max());

// A request frame: 7E, data length (16-bit LE), code, data, FF FF, BD.
std::vector<uint8_t> frame(uint8_t code, const std::vector<uint8_t>& data);

// 24-bit two's complement, least significant byte first.
int32_t readInt24(const uint8_t* bytes);
void appendInt24(std::vector<uint8_t>& out, int32_t value);
uint64_t readLittleEndian(const std::vector<uint8_t>& bytes, std::size_t offset, std::size_t count);
void appendLittleEndian(std::vector<uint8_t>& out, uint64_t value, std::size_t count);

// Queues a ready-made frame; `handler` receives the answer with `receiver`
// as context, so a released receiver gets nothing.
template<typename Receiver, typename Handler>
void sendFrame(Usb::ByteCommandQueue* queue,
               const std::string& name,
               std::vector<uint8_t> bytes,
               int timeoutMs,
               Receiver* receiver,
               Handler handler)
{
    auto command = std::make_shared<Usb::ByteCommand>(name, queue->generateUid(), std::move(bytes), timeoutMs);
    QObject::connect(command.get(), &Usb::ByteCommand::answerIsReady, receiver, handler);
    queue->enqueue(command);
}

// Encodes a simple command of the device description and queues it. A
// non-zero encoding result is returned and nothing is sent.
template<typename Receiver, typename Handler>
StatusPtr sendDescribed(Usb::UsbDeviceManager* manager,
                        const std::string& name,
                        std::vector<uint8_t> arguments,
                        int timeoutMs,
                        Receiver* receiver,
                        Handler handler)
{
    if (!manager)
        return failure(Usb::DeviceCommand::DEVICE_DISCONNECTED);
    const unsigned int uid = manager->generateUid();
    auto launched = std::make_shared<Usb::LaunchedSimpleCommandInfo>(name, uid, std::move(arguments));
    std::vector<uint8_t> bytes;
    const auto encoded = manager->commandSet()->createCommandBytes(launched, bytes);
    if (encoded != Usb::DeviceCommand::OK)
        return failure(encoded);
    auto command = std::make_shared<Usb::ByteCommand>(name, uid, std::move(bytes), timeoutMs);
    QObject::connect(command.get(), &Usb::ByteCommand::answerIsReady, receiver, handler);
    manager->enqueue(command);
    return ok();
}

// Creates the operation `name` for the connected device, keeps it in
// `running` until it answers and executes it. Returns the start status; on
// failure the command is dropped and no answer follows. An operation the
// device does not define gives NOT_EXIST.
template<typename Op, typename Receiver, typename Handler>
StatusPtr startSubCommand(Usb::UsbDeviceManager* manager,
                          const std::string& name,
                          std::shared_ptr<Usb::IComplexCommandCreateData> data,
                          RunningCommands& running,
                          Receiver* receiver,
                          Handler handler)
{
    if (!manager)
        return failure(Usb::DeviceCommand::DEVICE_DISCONNECTED);
    auto command = std::dynamic_pointer_cast<Op>(manager->commandSet()->createComplexCommand(name, data));
    if (!command)
        return failure(Usb::DeviceCommand::NOT_EXIST);
    running[command.get()] = command;
    QObject::connect(command.get(), &Op::answerIsReady, receiver, handler);
    StatusPtr status = command->execute();
    if (!status || status->status != Usb::DeviceCommand::OK)
        running.erase(command.get());
    return status ? status : failure(Usb::DeviceCommand::UNKNOWN_ERROR);
}

// The same for an operation without arguments.
template<typename Op, typename Receiver, typename Handler>
StatusPtr startSubCommand(Usb::UsbDeviceManager* manager,
                          const std::string& name,
                          RunningCommands& running,
                          Receiver* receiver,
                          Handler handler)
{
    if (!manager)
        return failure(Usb::DeviceCommand::DEVICE_DISCONNECTED);
    return startSubCommand<Op>(manager, name,
                               std::make_shared<Usb::ComplexCommandCreateData<unsigned>>(manager->generateUid()),
                               running, receiver, handler);
}

inline bool isOk(const StatusPtr& status)
{
    return status && status->status == Usb::DeviceCommand::OK;
}

} // namespace Tavrix::DeviceComplexCommands::Exchange
