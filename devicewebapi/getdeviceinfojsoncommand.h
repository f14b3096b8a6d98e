#pragma once

#include "devicewebapi/bytechainjsoncommand.h"

namespace Tavrix::DeviceWebApi {

// "GetDevInfo": what the recorder is (name, type, versions, serial number,
// GUI version, revision, setup count), when its settings last changed and
// its state.
class GetDeviceInfoJsonCommand : public ByteChainJsonCommand
{
    Q_OBJECT

public:
    static constexpr uint16_t dateAddress = 0x040A;

    GetDeviceInfoJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                             Usb::UsbDeviceManager* manager);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();

    // "Ожидание" (1), "Запись" (2) or nothing, then the given flags.
    static QString createDeviceStateText(uint8_t state, bool prepared, bool memoryFull, bool stoppedByPower);
    // "dd.MM.yyyy hh:mm:ss" from a date answer; "?" when its check byte is
    // wrong or the answer is too short.
    static QString dateText(const Bytes& answer);

protected:
    std::vector<Step> steps() override;
    QJsonObject createAnswer() const override;

private:
    uint32_t m_number = 0;
    uint16_t m_guiVersionHigh = 0;
    uint16_t m_guiVersionLow = 0;
    uint16_t m_revision = 0;
    uint16_t m_setupCount = 0;
    QString m_lastModDate = "?";
    uint8_t m_state = 0;
    QString m_stateText;
};

} // namespace Tavrix::DeviceWebApi
