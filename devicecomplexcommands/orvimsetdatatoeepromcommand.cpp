#include "devicecomplexcommands/orvimsetdatatoeepromcommand.h"

#include "common/bytewriter.h"
#include "devicecomplexcommands/operationexchange.h"

#include <algorithm>

namespace Tavrix::DeviceComplexCommands {

using Bytes = std::vector<uint8_t>;
using Usb::DeviceCommandStatus;

OrvimSetDataToEepromCommand::OrvimSetDataToEepromCommand(uint32_t uid,
                                                         EepromDataRecord record,
                                                         Usb::UsbDeviceManager* manager)
    : SetDataToEepromCommand("SetDataToEeprom", uid)
    , m_record(std::move(record))
    , m_manager(manager)
{
}

std::shared_ptr<DeviceCommandStatus> OrvimSetDataToEepromCommand::execute()
{
    if (m_record.data.empty()) {
        emit answerIsReady(this, Exchange::ok());
        return Exchange::ok();
    }
    return sendPortion();
}

std::shared_ptr<DeviceCommandStatus> OrvimSetDataToEepromCommand::sendPortion()
{
    const size_t count = std::min(portionSize, m_record.data.size() - m_done);
    const unsigned address = m_record.address + m_done;
    Bytes payload = Common::ByteWriter()
                        .u16(static_cast<uint16_t>(address))
                        .bytes(eepromSelector, sizeof eepromSelector)
                        .bytes(m_record.data.data() + m_done, count)
                        .take();
    m_done += count;
    return Usb::sendDescribedRequest(this, m_manager, "WriteToEeprom", std::move(payload),
                                        [this](const Bytes& answer, int32_t status) { handlePortion(answer, status); });
}

void OrvimSetDataToEepromCommand::handlePortion(const Bytes& answer, int32_t status)
{
    auto result = Exchange::check(answer, status);
    if (Exchange::isOk(result) && m_done < m_record.data.size()) {
        result = sendPortion();
        if (Exchange::isOk(result))
            return;
    }
    emit answerIsReady(this, result);
}

} // namespace Tavrix::DeviceComplexCommands
