#pragma once

#include "usb/complexcommandcreatedata.h"
#include "usb/devicecommandstatus.h"
#include "usb/operationrunner.h"
#include "usb/recorderframe.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

// The one place where the device operations judge answers and build
// frames, so that the operations differ only in their data. Sending and
// running sub-operations is the framework's (usb/operationrunner.h).
namespace Tavrix::DeviceComplexCommands::Exchange {

using StatusPtr = std::shared_ptr<Usb::DeviceCommandStatus>;
using RunningCommands = Usb::RunningOperations;
using Usb::answerTimeoutMs;
// Code of the frame with which the recorder refuses a request.
constexpr uint8_t refusalCode = 0xEE;
using Usb::RecorderFrame;

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

inline bool isOk(const StatusPtr& status)
{
    return status && status->status == Usb::DeviceCommand::OK;
}

// The byte command's own failure, or WRONG_FRAME_FORMAT (with the answer)
// when the recorder refused the request or `acceptable` rejects the answer;
// OK otherwise.
inline StatusPtr check(const std::vector<uint8_t>& answer,
                       int32_t status,
                       const std::function<bool(const std::vector<uint8_t>&)>& acceptable = {})
{
    if (auto failed = checkAnswer(answer, status))
        return failed;
    if (acceptable && !acceptable(answer))
        return failure(Usb::DeviceCommand::WRONG_FRAME_FORMAT, answer);
    return ok();
}

// An answer of exactly `size` bytes.
inline StatusPtr check(const std::vector<uint8_t>& answer, int32_t status, std::size_t size)
{
    if (auto failed = checkAnswer(answer, status, size, size))
        return failed;
    return ok();
}

} // namespace Tavrix::DeviceComplexCommands::Exchange
