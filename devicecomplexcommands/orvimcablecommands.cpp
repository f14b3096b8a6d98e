#include "devicecomplexcommands/orvimcablecommands.h"

#include "usb/bytecommandqueue.h"
#include "usb/cabletypeinfo.h"
#include "usb/usbdevicemanager.h"

#include <iomanip>
#include <iostream>

namespace Tavrix::Usb {

namespace {
bool isBcd(uint8_t byte)
{
    return (byte >> 4) <= 9 && (byte & 0x0F) <= 9;
}
int fromBcd(uint8_t byte)
{
    return (byte >> 4) * 10 + (byte & 0x0F);
}
uint8_t toBcd(int value)
{
    return static_cast<uint8_t>(((value / 10) % 10) << 4 | (value % 10));
}
} // namespace

std::array<uint8_t, 3> CableDate::encode(const QDate& date)
{
    if (!date.isValid())
        return {0xFF, 0xFF, 0xFF};
    const int year = (date.year() + 48) & 0xFF;
    return {toBcd(date.day()), toBcd(date.month()), toBcd(year)};
}

QDate CableDate::decode(const uint8_t* bytes)
{
    if (!isBcd(bytes[0]) || !isBcd(bytes[1]))
        return {};
    const int year = isBcd(bytes[2]) ? 2000 + fromBcd(bytes[2]) : 2255;
    return QDate(year, fromBcd(bytes[1]), fromBcd(bytes[0]));
}

} // namespace Tavrix::Usb

namespace Tavrix::DeviceComplexCommands {

using namespace Exchange;
using Usb::CableInfo;

namespace {
const std::vector<uint8_t> readCableInfoFrame{0x7E, 0x01, 0x00, 0x1E, 0x0A, 0xFF, 0xFF, 0xBD};
const std::vector<uint8_t> readCableVersionFrame{0x7E, 0x01, 0x00, 0x1E, 0x00, 0xFF, 0xFF, 0xBD};
const std::vector<uint8_t> readCableExistFrame{0x7E, 0x01, 0x00, 0x09, 0x00, 0xFF, 0xFF, 0xBD};
const std::vector<uint8_t> resetCableFrame{0x7E, 0x01, 0x00, 0x1E, 0x0B, 0xFF, 0xFF, 0xBD};
constexpr std::size_t cableInfoMinSize = 25;
constexpr std::size_t cableVersionSize = 23;
constexpr std::size_t cableExistMinSize = 8;
} // namespace

std::vector<FrameStep> cableSetupCounterSteps(uint32_t counter)
{
    return {
        {"WriteSetupCounter", frame(0x1E, {0x06, static_cast<uint8_t>(counter & 0xFF), 0x00, 0x00, 0x00}),
         cableWriteTimeoutMs},
        {"ResetCable", resetCableFrame, cableWriteTimeoutMs},
    };
}

OrvimReadCableInfoCommand::OrvimReadCableInfoCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
    : ReadCableInfoCommand("ReadCableInfo", uid)
    , m_queue(queue)
{
}

std::shared_ptr<Usb::DeviceCommandStatus> OrvimReadCableInfoCommand::execute()
{
    return Usb::sendRequest(this, m_queue, "ReadCableInfo", readCableInfoFrame, &OrvimReadCableInfoCommand::handleAnswer);
}

CableInfo OrvimReadCableInfoCommand::decode(const std::vector<uint8_t>& answer)
{
    CableInfo info;
    info.version = answer[5];
    info.cableRegime = answer[6];
    info.cableType = answer[7];
    info.cableNumber = static_cast<uint32_t>(readLittleEndian(answer, 8, 4));
    info.setupCounter = static_cast<uint32_t>(readLittleEndian(answer, 12, 4));
    info.dateOfCreate = Usb::CableDate::decode(&answer[16]);
    info.beginUsageDate = Usb::CableDate::decode(&answer[19]);
    info.lastInstallDate = Usb::CableDate::decode(&answer[22]);
    return info;
}

void OrvimReadCableInfoCommand::handleAnswer(std::shared_ptr<Usb::ByteCommand>,
                                             const std::vector<uint8_t>& answer,
                                             int32_t status)
{
    if (auto failed = checkAnswer(answer, status, cableInfoMinSize)) {
        emit answerIsReady(this, CableInfo(), failed);
        return;
    }
    emit answerIsReady(this, decode(answer), ok());
}

OrvimReadCableVersionCommand::OrvimReadCableVersionCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
    : ReadCableVersionCommand("ReadCableVersion", uid)
    , m_queue(queue)
{
}

std::shared_ptr<Usb::DeviceCommandStatus> OrvimReadCableVersionCommand::execute()
{
    return Usb::sendRequest(this, m_queue, "ReadCableVersion", readCableVersionFrame, &OrvimReadCableVersionCommand::handleAnswer);
}

void OrvimReadCableVersionCommand::handleAnswer(std::shared_ptr<Usb::ByteCommand>,
                                                const std::vector<uint8_t>& answer,
                                                int32_t status)
{
    if (auto failed = checkAnswer(answer, status, cableVersionSize, cableVersionSize)) {
        emit answerIsReady(this, CableVersion(), failed);
        return;
    }
    CableVersion version;
    version.hardwareVersion = answer[4];
    version.softwareVersion = static_cast<uint16_t>(readLittleEndian(answer, 5, 2));
    version.uid.assign(answer.begin() + 7, answer.begin() + 19);
    version.uidCrc = answer[19];
    emit answerIsReady(this, version, ok());
}

OrvimReadCableExistCommand::OrvimReadCableExistCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
    : Usb::ReadCableExistCommand("ReadCableExist", uid)
    , m_queue(queue)
{
}

std::shared_ptr<Usb::DeviceCommandStatus> OrvimReadCableExistCommand::execute()
{
    return Usb::sendRequest(this, m_queue, "ReadCableExist", readCableExistFrame, &OrvimReadCableExistCommand::handleAnswer);
}

void OrvimReadCableExistCommand::handleAnswer(std::shared_ptr<Usb::ByteCommand>,
                                              const std::vector<uint8_t>& answer,
                                              int32_t status)
{
    if (auto failed = checkAnswer(answer, status, cableExistMinSize)) {
        emit answerIsReady(this, false, failed);
        return;
    }
    emit answerIsReady(this, (answer[4] & 0x01) != 0, ok());
}

std::vector<uint8_t> OrvimWriteCableInfoCommand::mainInfoFrame(const CableInfo& info)
{
    std::vector<uint8_t> data{0x07, info.cableRegime, info.cableType};
    appendLittleEndian(data, info.cableNumber, 4);
    const auto date = Usb::CableDate::encode(info.dateOfCreate);
    data.insert(data.end(), date.begin(), date.end());
    return frame(0x1E, data);
}

namespace {
std::vector<FrameStep> cableInfoSteps(const CableInfo& info)
{
    std::vector<FrameStep> steps{{"WriteMainCableInfo", OrvimWriteCableInfoCommand::mainInfoFrame(info),
                                  cableWriteTimeoutMs}};
    for (auto& step : cableSetupCounterSteps(info.setupCounter))
        steps.push_back(std::move(step));
    return steps;
}
} // namespace

OrvimWriteCableInfoCommand::OrvimWriteCableInfoCommand(uint32_t uid, const CableInfo& info, Usb::ByteCommandQueue* queue)
    : FrameChainCommand<WriteCableInfoCommand>("WriteCableInfo", uid, queue, cableInfoSteps(info), cableSettleMs)
    , m_cableNumber(info.cableNumber)
{
}

std::shared_ptr<Usb::DeviceCommandStatus> OrvimWriteCableInfoCommand::execute()
{
    std::cout << " CableNumber=" << m_cableNumber << std::endl;
    const auto& bytes = steps().front().bytes;
    std::cout << " messageSize = " << bytes.size() << " message=";
    for (const uint8_t byte : bytes)
        std::cout << " 0x" << std::hex << static_cast<int>(byte) << std::dec;
    std::cout << std::endl;
    return FrameChainCommand<WriteCableInfoCommand>::execute();
}

OrvimWriteCableSetupCounterCommand::OrvimWriteCableSetupCounterCommand(uint32_t uid,
                                                                       uint32_t counter,
                                                                       Usb::ByteCommandQueue* queue)
    : FrameChainCommand<WriteCableSetupCounterCommand>("WriteCableSetupCounter", uid, queue,
                                                       cableSetupCounterSteps(counter), cableSettleMs)
{
}

GetCableLeadTypeCommand::GetCableLeadTypeCommand(uint32_t uid, Usb::UsbDeviceManager* manager)
    : Usb::ComplexCommand("GetCableLeadType", uid)
    , m_manager(manager)
{
}

std::shared_ptr<Usb::DeviceCommandStatus> GetCableLeadTypeCommand::execute()
{
    return Usb::runNamedOperation<ReadCableInfoCommand>(m_manager, "ReadCableInfo", m_executedCommands, this, &GetCableLeadTypeCommand::handleCableInfo);
}

void GetCableLeadTypeCommand::handleCableInfo(Usb::ComplexCommand* command,
                                              CableInfo info,
                                              std::shared_ptr<Usb::DeviceCommandStatus> status)
{
    m_executedCommands.erase(command);
    if (!isOk(status)) {
        emit answerIsReady(this, 0, status);
        return;
    }
    const Usb::CableTypeInfo* type = Usb::CableTypeInfo::find(m_manager->cableTypes(), info.cableType);
    // An all-zero record is a placeholder, not a cable type.
    if (!type || (type->type == 0 && type->pack == 0 && type->leadGroup == 0)) {
        emit answerIsReady(this, 0, failure(Usb::DeviceCommand::BAD_DATA));
        return;
    }
    emit answerIsReady(this, type->leadGroup, ok());
}

} // namespace Tavrix::DeviceComplexCommands
