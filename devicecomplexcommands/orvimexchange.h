#pragma once

// The one request/answer step that the Orvim operations are built from:
// queue a frame, take its answer, check its shape. Operations differ only in
// what they send and how they read the answer.

#include "usb/bytecommand.h"
#include "usb/bytecommandqueue.h"
#include "usb/devicecommandstatus.h"
#include "usb/devicecommandstatuscreator.h"
#include "usb/launchedsimplecommandinfo.h"
#include "usb/usbdevicemanager.h"

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Tavrix::DeviceComplexCommands::OrvimExchange {

using Bytes = std::vector<uint8_t>;
using StatusPtr = std::shared_ptr<Usb::DeviceCommandStatus>;
using AnswerHandler = std::function<void(const Bytes& answer, int32_t status)>;

constexpr int answerTimeoutMs = 1000;
// Code of the frame with which the recorder refuses a request.
constexpr uint8_t refusalCode = 0xEE;

inline StatusPtr ok()
{
    return std::make_shared<Usb::DeviceCommandStatus>(Usb::DeviceCommand::OK);
}

inline bool isOk(const StatusPtr& status)
{
    return status && status->status == Usb::DeviceCommand::OK;
}

// The byte command's own failure, or WRONG_FRAME_FORMAT (with the answer)
// when the recorder refused the request or `acceptable` rejects the answer;
// OK otherwise. A refusal is 9 bytes long, as some answers are, and must not
// pass for one of them.
inline StatusPtr check(const Bytes& answer, int32_t status, const std::function<bool(const Bytes&)>& acceptable)
{
    if (status != Usb::DeviceCommand::OK)
        return Usb::DeviceCommandStatusCreator::create(answer, status);
    const bool refused = answer.size() > 3 && answer[3] == refusalCode;
    if (refused || (acceptable && !acceptable(answer)))
        return Usb::DeviceCommandStatusCreator::create(answer, Usb::DeviceCommand::WRONG_FRAME_FORMAT);
    return ok();
}

inline StatusPtr check(const Bytes& answer, int32_t status)
{
    return check(answer, status, std::function<bool(const Bytes&)>());
}

// An answer of exactly `size` bytes.
inline StatusPtr check(const Bytes& answer, int32_t status, std::size_t size)
{
    return check(answer, status, [size](const Bytes& bytes) { return bytes.size() == size; });
}

// Queues a ready frame; `handler` runs with `receiver` as context.
inline StatusPtr sendFrame(QObject* receiver,
                           Usb::ByteCommandQueue* queue,
                           const std::string& name,
                           Bytes frame,
                           AnswerHandler handler,
                           int timeoutMs = answerTimeoutMs)
{
    if (!queue)
        return Usb::DeviceCommandStatusCreator::create({}, Usb::DeviceCommand::DEVICE_DISCONNECTED);
    auto command = std::make_shared<Usb::ByteCommand>(name, queue->generateUid(), std::move(frame), timeoutMs);
    QObject::connect(command.get(), &Usb::ByteCommand::answerIsReady, receiver,
                     [handler](std::shared_ptr<Usb::ByteCommand>, std::vector<uint8_t> answer, int32_t status) {
                         handler(answer, status);
                     });
    queue->enqueue(command);
    return ok();
}

// Encodes a simple command of the device description and queues it; an
// encoding failure is returned and nothing is sent.
inline StatusPtr sendDescribed(QObject* receiver,
                               Usb::UsbDeviceManager* manager,
                               const std::string& name,
                               Bytes arguments,
                               AnswerHandler handler,
                               int timeoutMs = answerTimeoutMs)
{
    if (!manager)
        return Usb::DeviceCommandStatusCreator::create({}, Usb::DeviceCommand::DEVICE_DISCONNECTED);
    const unsigned int uid = manager->generateUid();
    auto launched = std::make_shared<Usb::LaunchedSimpleCommandInfo>(name, uid, std::move(arguments));
    Bytes bytes;
    const auto encoded = manager->commandSet()->createCommandBytes(launched, bytes);
    if (encoded != Usb::DeviceCommand::OK)
        return Usb::DeviceCommandStatusCreator::create({}, encoded);
    auto command = std::make_shared<Usb::ByteCommand>(name, uid, std::move(bytes), timeoutMs);
    QObject::connect(command.get(), &Usb::ByteCommand::answerIsReady, receiver,
                     [handler](std::shared_ptr<Usb::ByteCommand>, std::vector<uint8_t> answer, int32_t status) {
                         handler(answer, status);
                     });
    manager->enqueue(command);
    return ok();
}

} // namespace Tavrix::DeviceComplexCommands::OrvimExchange
