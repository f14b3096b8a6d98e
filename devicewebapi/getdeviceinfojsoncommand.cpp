#include "devicewebapi/getdeviceinfojsoncommand.h"

#include "common/bytewriter.h"
#include "usb/devicebaseinfoaggregator.h"
#include "usb/recorderframe.h"

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;
using Usb::DeviceCommand::EStatus;
using Usb::RecorderFrame;

namespace {

// The seven EEPROM bytes from 0x040A: the date of the last change and its check byte.
const std::vector<uint8_t> kReadDateFrame =
    RecorderFrame::request(0x03, Common::ByteWriter().u16(0x040A).u8(0x00).u8(0x05).u16(7).take());
const std::vector<uint8_t> kReadDeviceStateFrame = RecorderFrame::request(0x0E);
const std::vector<uint8_t> kReadStateDetailsFrame = RecorderFrame::request(0x09, {0x2A});

// The answer's byte at `offset`, 0 when it holds no such data byte.
uint8_t byteAt(const std::vector<uint8_t>& answer, size_t offset)
{
    uint8_t value = 0;
    RecorderFrame::fields(answer, offset).readU8(value);
    return value;
}

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
    return std::make_shared<JsonCommandDescription>(
        "GetDevInfo", std::make_shared<NamelessEmptyJsonCommandUnit>(),
        std::make_shared<NamelessJsonCommandObjectUnit>(JsonCommandUnits{
            unit("Name", EJsonUnitType::String), unit("Type", EJsonUnitType::Int),
            unit("HardVer", EJsonUnitType::String), unit("SoftVer", EJsonUnitType::String),
            unit("VersionExtension", EJsonUnitType::String), unit("Number", EJsonUnitType::Int),
            unit("GuiVersion", EJsonUnitType::String), unit("Revision", EJsonUnitType::String),
            unit("SetupCount", EJsonUnitType::Int), unit("LastModDate", EJsonUnitType::String),
            unit("State", EJsonUnitType::String), unit("ServiceCounter", EJsonUnitType::Int)}));
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
    // Year − 2000, month, day, hours, minutes, seconds, then a check byte.
    std::vector<uint8_t> date;
    uint8_t stored = 0;
    Common::ByteReader fields = RecorderFrame::fields(answer);
    if (!fields.readBytes(6, date) || !fields.readU8(stored))
        return "?";
    uint8_t check = 0x33;
    for (const uint8_t byte : date)
        check = static_cast<uint8_t>(check + byte);
    if (check != stored)
        return "?";
    return twoDigits(date[2]) + "." + twoDigits(date[1]) + "." + QString::number(2000 + date[0]) + " " +
           twoDigits(date[3]) + ":" + twoDigits(date[4]) + ":" + twoDigits(date[5]);
}

std::vector<ByteChainJsonCommand::Step> GetDeviceInfoJsonCommand::steps()
{
    return {
        {"ReadNumber", {},
         [this](const Bytes& a, bool&) {
             m_number = 0;
             RecorderFrame::fields(a).readU32(m_number);
             return Usb::DeviceCommand::OK;
         }},
        {"ReadGuiVersion", {},
         [this](const Bytes& a, bool&) {
             // Shorter answers are the recorder's result frame, not a version.
             constexpr size_t versionAnswerMinSize = 12;
             m_guiVersionHigh = 0;
             m_guiVersionLow = 0;
             Common::ByteReader fields = RecorderFrame::fields(a, 5);
             if (a.size() >= versionAnswerMinSize && fields.readU16(m_guiVersionHigh))
                 fields.readU16(m_guiVersionLow);
             return Usb::DeviceCommand::OK;
         }},
        {"ReadRevision", {},
         [this](const Bytes& a, bool&) {
             // The only big-endian field of the recorder.
             m_revision = 0;
             RecorderFrame::fields(a, 5).readU16BigEndian(m_revision);
             return Usb::DeviceCommand::OK;
         }},
        {"ReadIdInv", {},
         [this](const Bytes& a, bool&) {
             m_setupCount = 0;
             RecorderFrame::fields(a, 9).readU16(m_setupCount);
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
             m_state = byteAt(a, 4);
             m_stateText = createDeviceStateText(m_state, false, false, false);
             last = m_state != kWaiting;
             return Usb::DeviceCommand::OK;
         }},
        {"ReadDeviceStateDetails", kReadStateDetailsFrame,
         [this](const Bytes& a, bool&) {
             m_stateText = createDeviceStateText(m_state, byteAt(a, 5) == 1, false, false);
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
