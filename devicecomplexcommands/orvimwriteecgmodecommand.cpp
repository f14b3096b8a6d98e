#include "devicecomplexcommands/orvimwriteecgmodecommand.h"

#include "common/jterminal.h"
#include "devicecomplexcommands/operationexchange.h"
#include "usb/recorderframe.h"
#include "usb/usbeventloopworker.h"

namespace Tavrix::DeviceComplexCommands {

using Bytes = std::vector<uint8_t>;
using Usb::DeviceCommandStatus;
using Usb::RecorderFrame;

namespace {

constexpr uint8_t kRecordModeCode = 0x07;
constexpr uint8_t kEcgModeCode = 0x10;
constexpr uint8_t kWriteMode = 0x01;
constexpr size_t kWriteModeAnswerSize = 8;

} // namespace

OrvimWriteEcgModeCommand::OrvimWriteEcgModeCommand(uint32_t uid,
                                                   Usb::UsbDevice::EEcgMode mode,
                                                   Usb::UsbEventLoopWorker* worker)
    : OrvimWriteEcgModeCommand(uid, mode, worker ? worker->deviceManager().queue() : nullptr,
                               [worker] { return worker && worker->adcListener().isReceiving(); })
{
}

OrvimWriteEcgModeCommand::OrvimWriteEcgModeCommand(uint32_t uid,
                                                   Usb::UsbDevice::EEcgMode mode,
                                                   Usb::ByteCommandQueue* queue,
                                                   std::function<bool()> isStreamRunning)
    : WriteEcgModeCommand("WriteEcgMode", uid)
    , m_mode(mode)
    , m_queue(queue)
    , m_isStreamRunning(std::move(isStreamRunning))
{
}

std::shared_ptr<DeviceCommandStatus> OrvimWriteEcgModeCommand::execute()
{
    Common::JTerminal('0') << " mode:" << static_cast<int>(m_mode);
    m_wasStreamRunning = m_isStreamRunning && m_isStreamRunning();
    return Usb::sendRequest(this, m_queue, "AdcOff", RecorderFrame::request(kRecordModeCode, {0x00}),
                                    [this](const Bytes& answer, int32_t status) { handleAdcOff(answer, status); });
}

void OrvimWriteEcgModeCommand::handleAdcOff(const Bytes& answer, int32_t status)
{
    const auto off = Exchange::check(answer, status);
    if (!Exchange::isOk(off))
        return finish(off);
    const Bytes frame = RecorderFrame::request(kEcgModeCode, {kWriteMode, Usb::UsbDevice::toDeviceByte(m_mode)});
    const auto sent = Usb::sendRequest(this, m_queue, "WriteEcgMode", frame, [this](const Bytes& a, int32_t s) {
        handleWriteMode(a, s);
    });
    if (!Exchange::isOk(sent))
        finish(sent);
}

void OrvimWriteEcgModeCommand::handleWriteMode(const Bytes& answer, int32_t status)
{
    const auto written = Exchange::check(answer, status, [](const Bytes& bytes) {
        uint8_t result = 1;
        return bytes.size() == kWriteModeAnswerSize && RecorderFrame::fields(bytes).readU8(result) && result == 0;
    });
    if (!Exchange::isOk(written) || !m_wasStreamRunning)
        return finish(written);
    const auto sent = Usb::sendRequest(this, m_queue, "AdcOn", RecorderFrame::request(kRecordModeCode, {0x01}),
                                       [this](const Bytes& a, int32_t s) { finish(Exchange::check(a, s)); });
    if (!Exchange::isOk(sent))
        finish(sent);
}

void OrvimWriteEcgModeCommand::finish(std::shared_ptr<DeviceCommandStatus> status)
{
    emit answerIsReady(this, std::move(status));
}

} // namespace Tavrix::DeviceComplexCommands
