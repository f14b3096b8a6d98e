#pragma once

// The request/answer step of the single-request operations, in the
// callback form they are written in; the sending and the checks themselves
// are the shared ones of operationexchange.h.

#include "devicecomplexcommands/operationexchange.h"
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

using Exchange::answerTimeoutMs;
using Exchange::isOk;
using Exchange::ok;

// The byte command's own failure, or WRONG_FRAME_FORMAT (with the answer)
// when the recorder refused the request or `acceptable` rejects the answer;
// OK otherwise.
inline StatusPtr check(const Bytes& answer, int32_t status, const std::function<bool(const Bytes&)>& acceptable)
{
    if (auto failed = Exchange::checkAnswer(answer, status))
        return failed;
    if (acceptable && !acceptable(answer))
        return Exchange::failure(Usb::DeviceCommand::WRONG_FRAME_FORMAT, answer);
    return ok();
}

inline StatusPtr check(const Bytes& answer, int32_t status)
{
    return check(answer, status, std::function<bool(const Bytes&)>());
}

// An answer of exactly `size` bytes.
inline StatusPtr check(const Bytes& answer, int32_t status, std::size_t size)
{
    if (auto failed = Exchange::checkAnswer(answer, status, size, size))
        return failed;
    return ok();
}

namespace Detail {
inline auto forward(AnswerHandler handler)
{
    return [handler](std::shared_ptr<Usb::ByteCommand>, std::vector<uint8_t> answer, int32_t status) {
        handler(answer, status);
    };
}
} // namespace Detail

// Queues a ready frame; `handler` runs with `receiver` as context.
inline StatusPtr sendFrame(QObject* receiver,
                           Usb::ByteCommandQueue* queue,
                           const std::string& name,
                           Bytes frame,
                           AnswerHandler handler,
                           int timeoutMs = answerTimeoutMs)
{
    if (!queue)
        return Exchange::failure(Usb::DeviceCommand::DEVICE_DISCONNECTED);
    Exchange::sendFrame(queue, name, std::move(frame), timeoutMs, receiver, Detail::forward(std::move(handler)));
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
    return Exchange::sendDescribed(manager, name, std::move(arguments), timeoutMs, receiver,
                                   Detail::forward(std::move(handler)));
}

} // namespace Tavrix::DeviceComplexCommands::OrvimExchange
