#include "devicecomplexcommands/orvimcablecommands.h"

#include "common/bytereader.h"
#include "common/bytewriter.h"
#include "devicecomplexcommands/orvimrequestcodes.h"
#include "usb/bytecommandqueue.h"
#include "usb/cabletypeinfo.h"
#include "usb/usbdevicemanager.h"

#include <iomanip>
#include <iostream>

namespace Tavrix::Usb {

void CableDate::encode(const QDate& date, Common::ByteWriter& out)
{
    if (!date.isValid()) {
        out.u8(0xFF).u8(0xFF).u8(0xFF);
        return;
    }
    const int year = (date.year() + 48) & 0xFF;
    out.bcd(date.day()).bcd(date.month()).bcd(year);
}

QDate CableDate::decode(Common::ByteReader& bytes)
{
    std::vector<uint8_t> date;
    if (!bytes.readBytes(3, date))
        return {};
    uint8_t day = 0;
    uint8_t month = 0;
    uint8_t year = 0;
    if (!Common::ByteReader::decodeBcd(date[0], day) || !Common::ByteReader::decodeBcd(date[1], month))
        return {};
    const int fullYear = Common::ByteReader::decodeBcd(date[2], year) ? 2000 + year : 2255;
    return QDate(fullYear, month, day);
}

} // namespace Tavrix::Usb

namespace Tavrix::DeviceComplexCommands {

using namespace Exchange;
using Common::ByteReader;
using Common::ByteWriter;
using Usb::CableInfo;
using Usb::RecorderFrame;

std::vector<FrameStep> cableSetupCounterSteps(uint32_t counter)
{
    return {
        // The recorder keeps only the counter's low byte.
        {"WriteSetupCounter",
         RecorderFrame::request(RequestCode::cable, ByteWriter().u8(CableItem::setupCounter).u32(counter & 0xFF).take()),
         cableWriteTimeoutMs},
        {"ResetCable", RecorderFrame::request(RequestCode::cable, {CableItem::reset}), cableWriteTimeoutMs},
    };
}

OrvimReadCableInfoCommand::OrvimReadCableInfoCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
    : SingleRequestCommand("ReadCableInfo", uid, queue, RecorderFrame::request(RequestCode::cable, {CableItem::info}))
{
}

CableInfo OrvimReadCableInfoCommand::decode(const std::vector<uint8_t>& answer)
{
    CableInfo info;
    // After the code and the sub-request: version, regime, type, number,
    // setup counter and three dates. What a short answer lacks stays default.
    ByteReader fields = RecorderFrame::fields(answer, 5);
    if (fields.readU8(info.version) && fields.readU8(info.cableRegime) && fields.readU8(info.cableType)
        && fields.readU32(info.cableNumber) && fields.readU32(info.setupCounter)) {
        info.dateOfCreate = Usb::CableDate::decode(fields);
        info.beginUsageDate = Usb::CableDate::decode(fields);
        info.lastInstallDate = Usb::CableDate::decode(fields);
    }
    return info;
}

void OrvimReadCableInfoCommand::answer(const std::vector<uint8_t>& answer, int32_t status)
{
    if (auto failed = checkAnswer(answer, status, AnswerSize::cableInfoLeast)) {
        emit answerIsReady(this, CableInfo(), failed);
        return;
    }
    emit answerIsReady(this, decode(answer), ok());
}

OrvimReadCableVersionCommand::OrvimReadCableVersionCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
    : SingleRequestCommand("ReadCableVersion", uid, queue, RecorderFrame::request(RequestCode::cable, {CableItem::version}))
{
}

void OrvimReadCableVersionCommand::answer(const std::vector<uint8_t>& answer, int32_t status)
{
    if (auto failed = checkAnswer(answer, status, AnswerSize::cableVersion, AnswerSize::cableVersion)) {
        emit answerIsReady(this, CableVersion(), failed);
        return;
    }
    CableVersion version;
    ByteReader fields = RecorderFrame::fields(answer, 4);
    if (!fields.readU8(version.hardwareVersion) || !fields.readU16(version.softwareVersion)
        || !fields.readBytes(version.uid.size(), version.uid) || !fields.readU8(version.uidCrc)) {
        emit answerIsReady(this, CableVersion(), failure(Usb::DeviceCommand::WRONG_FRAME_FORMAT, answer));
        return;
    }
    emit answerIsReady(this, version, ok());
}

OrvimReadCableExistCommand::OrvimReadCableExistCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
    : SingleRequestCommand("ReadCableExist", uid, queue, RecorderFrame::request(RequestCode::status, {StatusItem::cableExist}))
{
}

void OrvimReadCableExistCommand::answer(const std::vector<uint8_t>& answer, int32_t status)
{
    if (auto failed = checkAnswer(answer, status, AnswerSize::cableExistLeast)) {
        emit answerIsReady(this, false, failed);
        return;
    }
    uint8_t flags = 0;
    if (!RecorderFrame::fields(answer).readU8(flags)) {
        emit answerIsReady(this, false, failure(Usb::DeviceCommand::WRONG_FRAME_FORMAT, answer));
        return;
    }
    emit answerIsReady(this, (flags & 0x01) != 0, ok());
}

std::vector<uint8_t> OrvimWriteCableInfoCommand::mainInfoFrame(const CableInfo& info)
{
    ByteWriter data;
    data.u8(CableItem::mainInfo).u8(info.cableRegime).u8(info.cableType).u32(info.cableNumber);
    Usb::CableDate::encode(info.dateOfCreate, data);
    return RecorderFrame::request(RequestCode::cable, data.data());
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
