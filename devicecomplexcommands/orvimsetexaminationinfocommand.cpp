#include "devicecomplexcommands/orvimsetexaminationinfocommand.h"

#include "common/jterminal.h"
#include "common/bytewriter.h"
#include "common/stringextensions.h"
#include "devicecomplexcommands/eepromdatarecord.h"
#include "devicecomplexcommands/infomap.h"
#include "devicecomplexcommands/setdatatoeepromcommand.h"
#include "usb/complexcommandcreatemultidata.h"
#include "usb/devicecommandstatusconverter.h"
#include "usb/devicecommandstatusinfo.h"
#include "usb/usbdevicemanager.h"

#include <iostream>

namespace Tavrix::DeviceComplexCommands {

using namespace Exchange;
using Common::StringExtensions;

namespace {
// The text in Windows-1251; false when a character has no place there.
bool toRecorderText(const std::string& text, std::vector<uint8_t>& bytes)
{
    bytes = StringExtensions::toWindows1251FromUtf8(text);
    return StringExtensions::toUtf8StringFromWindows1251(bytes) == text;
}
} // namespace

OrvimSetExaminationInfoCommand::OrvimSetExaminationInfoCommand(uint32_t uid, ExaminationInfo info,
                                                               Usb::UsbDeviceManager* manager)
    : SetExaminationInfoCommand("SetExaminationInfo", uid)
    , m_info(std::move(info))
    , m_manager(manager)
{
}

bool OrvimSetExaminationInfoCommand::examinationBlock(const ExaminationInfo& info, std::vector<uint8_t>& block)
{
    InfoMap map;
    map.addValue("CableCntr", static_cast<int32_t>(info.setupCounter));
    map.addValue("CableNumber", static_cast<int32_t>(info.cableNumber));
    map.addValue("CableOn", 1);
    map.addValue("CableType", static_cast<int32_t>(info.cableType & 0xFF));
    map.addValue("LeadSubSet", info.electrodes ? info.electrodes->leadType : 0);
    if (!map.addValue("fname", info.fileName))
        return false;
    return map.toExaminationBlock(block);
}

bool OrvimSetExaminationInfoCommand::prepare(std::string& reason)
{
    if (!m_info.electrodes) {
        reason = "unknown lead type";
        return false;
    }
    std::vector<uint8_t> surname, name, patronymic, sex;
    if (!toRecorderText(m_info.surname, surname) || !toRecorderText(m_info.name, name)
        || !toRecorderText(m_info.patronymic, patronymic)) {
        reason = "text not representable in Windows-1251";
        return false;
    }
    if (surname.size() > maxNameBytes || name.size() > maxNameBytes || patronymic.size() > maxNameBytes) {
        reason = "a name is longer than " + std::to_string(maxNameBytes) + " bytes";
        return false;
    }
    if (!m_info.sexNotGiven)
        toRecorderText(PatientSex::toText(m_info.sex), sex);
    sex.push_back(0);

    std::vector<uint8_t> startRecord;
    if (!ExaminationRecords::startTimeAndLeadRecord(m_info, startRecord)) {
        reason = "is not correct year";
        return false;
    }
    std::vector<uint8_t> block;
    if (!examinationBlock(m_info, block)) {
        reason = "examination block too long or file name not representable";
        return false;
    }
    const std::vector<uint8_t> lengthAndBlock =
        Common::ByteWriter().u16(static_cast<uint16_t>(block.size())).bytes(block).take();

    std::vector<uint8_t> flags{ExaminationRecords::flagsByte(m_info), 0, 0, 0};
    const uint8_t leadType = m_info.electrodes->leadType;
    // Items are named by the request keys they come from.
    m_steps = {
        {"Surname", [this, surname]() { return writeExamField(1, surname); }},
        {"Name", [this, name]() { return writeExamField(2, name); }},
        {"Patronymic", [this, patronymic]() { return writeExamField(3, patronymic); }},
        {"BirthdayDate", [this]() { return writeExamField(4, ExaminationRecords::birthdayField(m_info.birthdayDate)); }},
        {"flags", [this, flags]() { return writeExamField(5, flags); }},
        {"Sex", [this, sex]() { return writeExamField(6, sex); }},
        {"StartTime and lead set",
         [this, startRecord]() { return writeEeprom(ExaminationRecords::startTimeAddress, startRecord); }},
        {"LeadType",
         [this, leadType]() {
             return Usb::sendDescribedRequest(this, m_manager, "WriteLeadType", {0x03, leadType}, &OrvimSetExaminationInfoCommand::handleByteAnswer);
         }},
        {"FileName and CableInfo",
         [this, lengthAndBlock]() { return writeEeprom(ExaminationRecords::mapLengthAddress, lengthAndBlock); }},
    };
    return true;
}

std::shared_ptr<Usb::DeviceCommandStatus> OrvimSetExaminationInfoCommand::execute()
{
    if (!m_manager)
        return failure(Usb::DeviceCommand::DEVICE_DISCONNECTED);
    std::string reason;
    if (!prepare(reason)) {
        std::cout << " SetExaminationInfo: " << reason << std::endl;
        return failure(Usb::DeviceCommand::BAD_DATA);
    }
    m_next = 0;
    return runStep();
}

StatusPtr OrvimSetExaminationInfoCommand::runStep()
{
    return m_steps[m_next].run();
}

void OrvimSetExaminationInfoCommand::advance(StatusPtr status)
{
    if (!isOk(status)) {
        fail(status);
        return;
    }
    if (++m_next == m_steps.size()) {
        emit answerIsReady(this, ok());
        return;
    }
    StatusPtr started = runStep();
    if (!isOk(started))
        fail(started);
}

void OrvimSetExaminationInfoCommand::fail(const StatusPtr& status)
{
    // The steps before m_next reached the recorder; the one at m_next may
    // have in part (an EEPROM record goes in 16-byte portions).
    std::string written, missing;
    for (std::size_t i = 0; i < m_steps.size(); ++i) {
        std::string& list = i < m_next ? written : missing;
        list += (list.empty() ? "" : ", ") + std::string(m_steps[i].item);
    }
    const Usb::DeviceCommand::EStatus code = status ? status->status : Usb::DeviceCommand::UNKNOWN_ERROR;
    const std::string text = "SetExaminationInfo failed at " + std::string(m_steps[m_next].item) + " ("
                             + Usb::DeviceCommandStatusConverter::toText(code) + "); written: "
                             + (written.empty() ? "nothing" : written) + "; not written: " + missing
                             + "; repeat the operation";
    Common::JTerminal('1') << text;
    if (m_manager) {
        m_manager->writeErrorLog(text);
        emit m_manager->signalError(Usb::UsbDeviceManager::errorType, text);
    }
    emit answerIsReady(this, std::make_shared<Usb::DeviceCommandStatusInfo<std::string>>(code, text));
}

void OrvimSetExaminationInfoCommand::handleByteAnswer(std::shared_ptr<Usb::ByteCommand>,
                                                      const std::vector<uint8_t>& answer,
                                                      int32_t status)
{
    StatusPtr failed = checkAnswer(answer, status);
    advance(failed ? failed : ok());
}

void OrvimSetExaminationInfoCommand::handleSubAnswer(Usb::ComplexCommand* command,
                                                     std::shared_ptr<Usb::DeviceCommandStatus> status)
{
    m_executedCommands.erase(command);
    advance(status);
}

StatusPtr OrvimSetExaminationInfoCommand::writeExamField(uint8_t tag, std::vector<uint8_t> field)
{
    field.insert(field.begin(), tag);
    return Usb::sendDescribedRequest(this, m_manager, "WriteExamInfo", std::move(field), &OrvimSetExaminationInfoCommand::handleByteAnswer);
}

StatusPtr OrvimSetExaminationInfoCommand::writeEeprom(uint16_t address, std::vector<uint8_t> data)
{
    EepromDataRecord record;
    record.address = address;
    record.data = std::move(data);
    auto createData = std::make_shared<Usb::ComplexCommandCreateMultidata<unsigned, EepromDataRecord>>(
        m_manager->generateUid(), record);
    return Usb::runNamedOperation<SetDataToEepromCommand>(m_manager, "SetDataToEeprom", createData, m_executedCommands, this, &OrvimSetExaminationInfoCommand::handleSubAnswer);
}

} // namespace Tavrix::DeviceComplexCommands
