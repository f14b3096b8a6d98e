#include "devicecomplexcommands/orvimwriteecgmodecommand.h"

#include "common/jterminal.h"
#include "devicecomplexcommands/operationexchange.h"
#include "usb/usbeventloopworker.h"

namespace Tavrix::DeviceComplexCommands {

using Bytes = std::vector<uint8_t>;
using Usb::DeviceCommandStatus;

namespace {

const Bytes kAdcOffFrame{0x7E, 0x01, 0x00, 0x07, 0x00, 0xFF, 0xFF, 0xBD};
const Bytes kAdcOnFrame{0x7E, 0x01, 0x00, 0x07, 0x01, 0xFF, 0xFF, 0xBD};
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
    return Usb::sendRequest(this, m_queue, "AdcOff", kAdcOffFrame,
                                    [this](const Bytes& answer, int32_t status) { handleAdcOff(answer, status); });
}

void OrvimWriteEcgModeCommand::handleAdcOff(const Bytes& answer, int32_t status)
{
    const auto off = Exchange::check(answer, status);
    if (!Exchange::isOk(off))
        return finish(off);
    const Bytes frame{0x7E, 0x02, 0x00, 0x10, 0x01, Usb::UsbDevice::toDeviceByte(m_mode), 0xFF, 0xFF, 0xBD};
    const auto sent = Usb::sendRequest(this, m_queue, "WriteEcgMode", frame, [this](const Bytes& a, int32_t s) {
        handleWriteMode(a, s);
    });
    if (!Exchange::isOk(sent))
        finish(sent);
}

void OrvimWriteEcgModeCommand::handleWriteMode(const Bytes& answer, int32_t status)
{
    const auto written = Exchange::check(answer, status, [](const Bytes& bytes) {
        return bytes.size() == kWriteModeAnswerSize && bytes[4] == 0;
    });
    if (!Exchange::isOk(written) || !m_wasStreamRunning)
        return finish(written);
    const auto sent = Usb::sendRequest(this, m_queue, "AdcOn", kAdcOnFrame, [this](const Bytes& a, int32_t s) {
        finish(Exchange::check(a, s));
    });
    if (!Exchange::isOk(sent))
        finish(sent);
}

void OrvimWriteEcgModeCommand::finish(std::shared_ptr<DeviceCommandStatus> status)
{
    emit answerIsReady(this, std::move(status));
}

} // namespace Tavrix::DeviceComplexCommands
