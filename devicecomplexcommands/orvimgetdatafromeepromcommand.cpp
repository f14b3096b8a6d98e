#include "devicecomplexcommands/orvimgetdatafromeepromcommand.h"

#include "common/bytewriter.h"
#include "devicecomplexcommands/eepromdatarecord.h"
#include "devicecomplexcommands/operationexchange.h"
#include "usb/recorderframe.h"

#include <algorithm>

namespace Tavrix::DeviceComplexCommands {

using Bytes = std::vector<uint8_t>;
using Usb::DeviceCommandStatus;

OrvimGetDataFromEepromCommand::OrvimGetDataFromEepromCommand(uint32_t uid,
                                                             uint16_t address,
                                                             uint16_t size,
                                                             Usb::UsbDeviceManager* manager)
    : GetDataFromEepromCommand("GetDataFromEeprom", uid)
    , m_address(address)
    , m_size(size)
    , m_manager(manager)
{
}

std::shared_ptr<DeviceCommandStatus> OrvimGetDataFromEepromCommand::execute()
{
    m_data.clear();
    if (m_size == 0) {
        emit answerIsReady(this, {}, Exchange::ok());
        return Exchange::ok();
    }
    return sendPortion();
}

std::shared_ptr<DeviceCommandStatus> OrvimGetDataFromEepromCommand::sendPortion()
{
    const size_t count = std::min(portionSize, size_t(m_size) - m_data.size());
    const unsigned address = m_address + m_data.size();
    Bytes payload = Common::ByteWriter()
                        .u16(static_cast<uint16_t>(address))
                        .bytes(eepromSelector, sizeof eepromSelector)
                        .u16(static_cast<uint16_t>(count))
                        .take();
    return Usb::sendDescribedRequest(
        this, m_manager, "ReadFromEeprom", std::move(payload),
        [this, count](const Bytes& answer, int32_t status) { handlePortion(count, answer, status); });
}

void OrvimGetDataFromEepromCommand::handlePortion(size_t count, const Bytes& answer, int32_t status)
{
    // An answer that does not carry exactly the bytes asked for (the error
    // frame, a cut frame) would shift everything read after it.
    auto result = Exchange::check(answer, status,
                                       [count](const Bytes& bytes) { return bytes.size() == count + Usb::RecorderFrame::overhead; });
    Bytes portion;
    if (Exchange::isOk(result) && !Usb::RecorderFrame::fields(answer).readBytes(count, portion))
        result = Exchange::failure(Usb::DeviceCommand::WRONG_FRAME_FORMAT, answer);
    if (Exchange::isOk(result)) {
        m_data.insert(m_data.end(), portion.begin(), portion.end());
        if (m_data.size() >= m_size) {
            emit answerIsReady(this, m_data, result);
            return;
        }
        result = sendPortion();
        if (Exchange::isOk(result))
            return;
    }
    emit answerIsReady(this, {}, result);
}

} // namespace Tavrix::DeviceComplexCommands
