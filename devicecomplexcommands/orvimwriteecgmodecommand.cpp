#include "devicecomplexcommands/orvimwriteecgmodecommand.h"

#include "common/jterminal.h"
#include "devicecomplexcommands/operationexchange.h"
#include "devicecomplexcommands/orvimrequestcodes.h"
#include "usb/recorderframe.h"
#include "usb/usbeventloopworker.h"

namespace Tavrix::DeviceComplexCommands {

using Bytes = std::vector<uint8_t>;
using Usb::DeviceCommandStatus;
using Usb::RecorderFrame;

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
    return Usb::sendRequest(this, m_queue, "AdcOff", RecorderFrame::request(RequestCode::recordMode, {0x00}),
                                    [this](const Bytes& answer, int32_t status) { handleAdcOff(answer, status); });
}

void OrvimWriteEcgModeCommand::handleAdcOff(const Bytes& answer, int32_t status)
{
    const auto off = Exchange::check(answer, status);
    if (!Exchange::isOk(off))
        return finish(off);
    const Bytes frame = RecorderFrame::request(RequestCode::ecgMode, {EcgModeItem::write, Usb::UsbDevice::toDeviceByte(m_mode)});
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
        return bytes.size() == AnswerSize::result && RecorderFrame::fields(bytes).readU8(result) && result == 0;
    });
    if (!Exchange::isOk(written) || !m_wasStreamRunning)
        return finish(written);
    const auto sent = Usb::sendRequest(this, m_queue, "AdcOn", RecorderFrame::request(RequestCode::recordMode, {0x01}),
                                       [this](const Bytes& a, int32_t s) { finish(Exchange::check(a, s)); });
    if (!Exchange::isOk(sent))
        finish(sent);
}

void OrvimWriteEcgModeCommand::finish(std::shared_ptr<DeviceCommandStatus> status)
{
    emit answerIsReady(this, std::move(status));
}

} // namespace Tavrix::DeviceComplexCommands
