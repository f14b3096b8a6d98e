#include "devicewebapi/getflashmemoryinfojsoncommand.h"

#include "usb/recorderframe.h"

#include <algorithm>

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;

namespace {

using Usb::RecorderFrame;

const std::vector<uint8_t> kReadWrittenBytesCountFrame = RecorderFrame::request(0x0A, {0x00});
const std::vector<uint8_t> kGetFlashStateFrame = RecorderFrame::request(0x09, {0x21});

// 0 when the answer is too short to hold an address.
uint64_t addressOf(const std::vector<uint8_t>& answer)
{
    uint64_t address = 0;
    RecorderFrame::fields(answer).readUnsigned(8, address);
    return address;
}

} // namespace

GetFlashMemoryInfoJsonCommand::GetFlashMemoryInfoJsonCommand(std::shared_ptr<JsonCommandDescription> description,
                                                             Usb::UsbDeviceManager* manager)
    : ByteChainJsonCommand(std::move(description), manager)
{
}

std::shared_ptr<JsonCommandDescription> GetFlashMemoryInfoJsonCommand::createCommandDescription()
{
    JsonCommandUnits members;
    for (const char* key : {"MemorySize", "FillMemoryPercent", "BeginReadBlock", "FlashState"})
        members.push_back(std::make_shared<JsonCommandUnit>(key, EJsonUnitType::String));
    return std::make_shared<JsonCommandDescription>("GetFlashMemoryInfo",
                                                    std::make_shared<NamelessEmptyJsonCommandUnit>(),
                                                    std::make_shared<NamelessJsonCommandObjectUnit>(members));
}

QString GetFlashMemoryInfoJsonCommand::fillPercentText(uint64_t minAddress, uint64_t maxAddress, uint64_t writtenCount)
{
    const auto beginBlock = static_cast<uint32_t>(minAddress / blockSize);
    const auto endBlock = static_cast<uint32_t>(maxAddress / blockSize);
    const auto writtenBlock = static_cast<uint32_t>(std::min(writtenCount, maxAddress) / blockSize);
    if (endBlock == 0)
        return "?";
    if (writtenBlock < beginBlock || endBlock <= beginBlock)
        return "0";
    const uint64_t percent = uint64_t(writtenBlock - beginBlock) * 100 / (endBlock - beginBlock);
    return QString::number(std::min<uint64_t>(percent, 100));
}

std::vector<ByteChainJsonCommand::Step> GetFlashMemoryInfoJsonCommand::steps()
{
    return {
        {"ReadMaxAddress", {},
         [this](const Bytes& a, bool&) {
             m_maxAddress = addressOf(a);
             return Usb::DeviceCommand::OK;
         }},
        {"ReadMinAddress", {},
         [this](const Bytes& a, bool&) {
             m_minAddress = addressOf(a);
             return Usb::DeviceCommand::OK;
         }},
        {"ReadWrittenBytesCount", kReadWrittenBytesCountFrame,
         [this](const Bytes& a, bool&) {
             m_beginBlock = static_cast<uint32_t>(m_minAddress / blockSize);
             m_fillPercent = fillPercentText(m_minAddress, m_maxAddress, addressOf(a));
             return Usb::DeviceCommand::OK;
         }},
        {"GetFlashState", kGetFlashStateFrame,
         [this](const Bytes& a, bool&) {
             uint8_t state = 0;
             const bool readOut = RecorderFrame::fields(a, 5).readU8(state) && state != 0;
             m_flashState = QString::fromUtf8(readOut ? "Прочитана" : "Не прочитана");
             return Usb::DeviceCommand::OK;
         }},
    };
}

QJsonObject GetFlashMemoryInfoJsonCommand::createAnswer() const
{
    QJsonObject answer;
    answer.insert("MemorySize", QString::number(m_maxAddress));
    answer.insert("FillMemoryPercent", m_fillPercent);
    answer.insert("BeginReadBlock", QString::number(m_beginBlock, 16));
    answer.insert("FlashState", m_flashState);
    return answer;
}

} // namespace Tavrix::DeviceWebApi
