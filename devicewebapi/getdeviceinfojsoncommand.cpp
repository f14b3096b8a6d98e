#include "devicewebapi/getdeviceinfojsoncommand.h"

#include "usb/devicebaseinfoaggregator.h"

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;
using Usb::DeviceCommand::EStatus;

namespace {

const std::vector<uint8_t> kReadDateFrame{0x7E, 0x06, 0x00, 0x03, 0x0A, 0x04, 0x00, 0x05, 0x07, 0x00, 0xFF, 0xFF, 0xBD};
const std::vector<uint8_t> kReadDeviceStateFrame{0x7E, 0x00, 0x00, 0x0E, 0xFF, 0xFF, 0xBD};
const std::vector<uint8_t> kReadStateDetailsFrame{0x7E, 0x01, 0x00, 0x09, 0x2A, 0xFF, 0xFF, 0xBD};

constexpr uint8_t kWaiting = 1;
constexpr uint8_t kRecording = 2;
// A date answer of exactly this size is the recorder's result frame, not a date.
constexpr size_t kRejectedDateAnswerSize = 8;

QString twoDigits(int value)
{
    return QString("%1").arg(value, 2, 10, QChar('0'));
}

} // namespace

GetDeviceInfoJsonCommand::GetDeviceInfoJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                   Usb::UsbDeviceManager* manager)
    : ByteChainJsonCommand(std::move(description), manager)
{
}

std::shared_ptr<JsonCommandDescription> GetDeviceInfoJsonCommand::createCommandDescription()
{
    const auto member = [](const char* name, EJsonUnitType type) { return std::make_shared<JsonCommandUnit>(name, type); };
    return std::make_shared<JsonCommandDescription>(
        "GetDevInfo", std::make_shared<NamelessEmptyJsonCommandUnit>(),
        std::make_shared<NamelessJsonCommandObjectUnit>(JsonCommandUnits{
            member("Name", EJsonUnitType::String), member("Type", EJsonUnitType::Int),
            member("HardVer", EJsonUnitType::String), member("SoftVer", EJsonUnitType::String),
            member("VersionExtension", EJsonUnitType::String), member("Number", EJsonUnitType::Int),
            member("GuiVersion", EJsonUnitType::String), member("Revision", EJsonUnitType::String),
            member("SetupCount", EJsonUnitType::Int), member("LastModDate", EJsonUnitType::String),
            member("State", EJsonUnitType::String), member("ServiceCounter", EJsonUnitType::Int)}));
}

QString GetDeviceInfoJsonCommand::createDeviceStateText(uint8_t state, bool prepared, bool memoryFull, bool stoppedByPower)
{
    QString text;
    if (state == kWaiting)
        text += QString::fromUtf8("Ожидание");
    else if (state == kRecording)
        text += QString::fromUtf8("Запись");
    if (prepared)
        text += QString::fromUtf8(", подготовлен к записи");
    if (memoryFull)
        text += QString::fromUtf8(", память заполнена");
    if (stoppedByPower)
        text += QString::fromUtf8(", остановлен по питанию");
    return text;
}

QString GetDeviceInfoJsonCommand::dateText(const Bytes& answer)
{
    if (answer.size() < 11 || !holdsData(answer, 4, 7))
        return "?";
    uint8_t check = 0x33;
    for (size_t i = 4; i <= 9; ++i)
        check = static_cast<uint8_t>(check + answer[i]);
    if (check != answer[10])
        return "?";
    return twoDigits(answer[6]) + "." + twoDigits(answer[5]) + "." + QString::number(2000 + answer[4]) + " " +
           twoDigits(answer[7]) + ":" + twoDigits(answer[8]) + ":" + twoDigits(answer[9]);
}

std::vector<ByteChainJsonCommand::Step> GetDeviceInfoJsonCommand::steps()
{
    return {
        {"ReadNumber", {},
         [this](const Bytes& a, bool&) {
             m_number = static_cast<uint32_t>(littleEndianAt(a, 4, 4, 8));
             return Usb::DeviceCommand::OK;
         }},
        {"ReadGuiVersion", {},
         [this](const Bytes& a, bool&) {
             m_guiVersionHigh = static_cast<uint16_t>(littleEndianAt(a, 5, 2, 12));
             m_guiVersionLow = static_cast<uint16_t>(littleEndianAt(a, 7, 2, 12));
             return Usb::DeviceCommand::OK;
         }},
        {"ReadRevision", {},
         [this](const Bytes& a, bool&) {
             // The only big-endian field of the recorder.
             m_revision = holdsData(a, 5, 2) ? static_cast<uint16_t>(a[5] << 8 | a[6]) : 0;
             return Usb::DeviceCommand::OK;
         }},
        {"ReadIdInv", {},
         [this](const Bytes& a, bool&) {
             m_setupCount = static_cast<uint16_t>(littleEndianAt(a, 9, 2, 11));
             return Usb::DeviceCommand::OK;
         }},
        {"ReadEeprom", kReadDateFrame,
         [this](const Bytes& a, bool&) {
             if (a.size() == kRejectedDateAnswerSize)
                 return Usb::DeviceCommand::WRONG_FRAME_FORMAT;
             m_lastModDate = dateText(a);
             return Usb::DeviceCommand::OK;
         }},
        {"ReadDeviceState", kReadDeviceStateFrame,
         [this](const Bytes& a, bool& last) {
             m_state = holdsData(a, 4, 1) ? a[4] : 0;
             m_stateText = createDeviceStateText(m_state, false, false, false);
             last = m_state != kWaiting;
             return Usb::DeviceCommand::OK;
         }},
        {"ReadDeviceStateDetails", kReadStateDetailsFrame,
         [this](const Bytes& a, bool&) {
             m_stateText = createDeviceStateText(m_state, holdsData(a, 5, 1) && a[5] == 1, false, false);
             return Usb::DeviceCommand::OK;
         }},
    };
}

QJsonObject GetDeviceInfoJsonCommand::createAnswer() const
{
    using Usb::DeviceBaseInfoAggregator;
    QJsonObject answer;
    answer.insert("Name", QString::fromStdString(m_device.name));
    answer.insert("Type", m_device.type);
    answer.insert("HardVer", DeviceBaseInfoAggregator::toVersionText(m_hardwareVersion));
    answer.insert("SoftVer", DeviceBaseInfoAggregator::toVersionText(m_softwareVersion));
    answer.insert("VersionExtension", QString::fromStdString(m_versionExtension));
    answer.insert("Number", static_cast<qint64>(m_number));
    answer.insert("GuiVersion", QString("%1.%2").arg(m_guiVersionHigh, 0, 16).arg(m_guiVersionLow, 0, 16));
    answer.insert("Revision", DeviceBaseInfoAggregator::toVersionText(m_revision));
    answer.insert("SetupCount", m_setupCount);
    answer.insert("LastModDate", m_lastModDate);
    answer.insert("State", m_stateText);
    answer.insert("ServiceCounter", 0);
    return answer;
}

} // namespace Tavrix::DeviceWebApi
