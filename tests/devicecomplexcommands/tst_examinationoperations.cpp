#include "operationsfixture.h"

#include "devicecomplexcommands/infomap.h"
#include "devicecomplexcommands/orvimsetexaminationinfocommand.h"
#include "devicewebapi/examinationjsoncommands.h"
#include "usb/devicecommandstatusinfo.h"

using namespace Tavrix;
using namespace Tavrix::DeviceComplexCommands;
using Tavrix::Testing::Bytes;
using Tavrix::Testing::frame;
using Usb::DeviceCommand::EStatus;

namespace {

ExaminationInfo sampleExamination()
{
    ExaminationInfo info;
    info.surname = "Иванов";
    info.name = "Пётр";
    info.patronymic = "Сергеевич";
    info.sex = PatientSex::parseSex("м");
    info.sexNotGiven = false;
    info.birthdayDate = Common::DateObject::fromString("1985-07-21");
    info.startTime = Common::DateTimeObject::fromString("2000-01-02 00:00:00");
    info.electrodes = ElectrodesInfoCreator::create(1);
    info.fileName = "Обследование_01.ecg";
    info.cableType = 0x105;
    info.cableNumber = 4660;
    info.setupCounter = 3;
    return info;
}

TEST(ExaminationRecords, SexLeadSetsAndStartTime)
{
    EXPECT_EQ(PatientSex::parseSex("M"), PatientSex::Male);
    EXPECT_EQ(PatientSex::parseSex("ж"), PatientSex::Female);
    EXPECT_EQ(PatientSex::parseSex("Ж"), PatientSex::Unknown);
    EXPECT_EQ(PatientSex::parseSex(""), PatientSex::Unknown);
    EXPECT_FALSE(ElectrodesInfoCreator::create(2));
    ASSERT_TRUE(ElectrodesInfoCreator::create(101));
    EXPECT_EQ(ElectrodesInfoCreator::create(101)->electrodes.size(), 24u);
    EXPECT_EQ(ElectrodesInfoCreator::knownCodes().size(), 22u);

    uint32_t seconds = 1;
    EXPECT_TRUE(ExaminationRecords::encodeStartTime(Common::DateTimeObject::fromString("2000-01-01 00:00:00"), seconds));
    EXPECT_EQ(seconds, 0u);
    EXPECT_TRUE(ExaminationRecords::encodeStartTime(Common::DateTimeObject::fromString("2000-01-02 00:00:00"), seconds));
    EXPECT_EQ(seconds, 86400u);
    EXPECT_FALSE(ExaminationRecords::encodeStartTime(Common::DateTimeObject::fromString("2100-01-01 00:00:00"), seconds));
    EXPECT_FALSE(ExaminationRecords::encodeStartTime(Common::DateTimeObject::fromString("1999-12-31 23:59:59"), seconds));
    EXPECT_EQ(ExaminationRecords::birthdayField(Common::DateObject::fromString("1985-07-21")),
              (Bytes{0x19, 0x85, 0x07, 0x21}));

    ExaminationInfo manual = sampleExamination();
    manual.electrodes = ElectrodesInfoCreator::create(100);
    Bytes record;
    ASSERT_TRUE(ExaminationRecords::startTimeAndLeadRecord(manual, record));
    ASSERT_EQ(record.size(), 29u);
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 4), (Bytes{0x80, 0x51, 0x01, 0x00}));
    EXPECT_EQ(record[4], 100);
    EXPECT_EQ(record[5], '1');
    EXPECT_EQ(record[5 + 7 * 3], '8');
    EXPECT_EQ(Bytes(record.begin() + 29 - 0, record.end()), Bytes{});
    EXPECT_EQ(record[28], 0); // only "1" to "8"
}

TEST(ExaminationRecords, MapBlockRoundTripsACyrillicFileNameAndRejectsDamage)
{
    Bytes block;
    ASSERT_TRUE(OrvimSetExaminationInfoCommand::examinationBlock(sampleExamination(), block));
    EXPECT_EQ(block[0], 0x3E);
    EXPECT_EQ(block[1], 0xE3);
    EXPECT_EQ(block[6], 6);
    InfoMap map;
    ASSERT_TRUE(InfoMap::fromExaminationBlock(block, map));
    std::vector<std::string> keys;
    for (const auto& entry : map.items())
        keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"CableCntr", "CableNumber", "CableOn", "CableType", "LeadSubSet", "fname"}));
    EXPECT_EQ(map.interpretValue("CableType"), std::optional<std::string>("5"));
    // Stored as Windows-1251, as every reader of the block decodes it.
    EXPECT_EQ(map.items().at("fname").data.front(), 0xCE); // "О"
    EXPECT_EQ(DeviceWebApi::GetExamFileNameJsonCommand::fileNameOf(block), std::optional<std::string>("Обследование_01.ecg"));

    for (std::size_t i : {std::size_t(0), std::size_t(12), block.size() - 1}) {
        Bytes damaged = block;
        damaged[i] ^= 0x40;
        EXPECT_FALSE(DeviceWebApi::GetExamFileNameJsonCommand::fileNameOf(damaged)) << i;
    }
    EXPECT_FALSE(DeviceWebApi::GetExamFileNameJsonCommand::fileNameOf(Bytes(block.begin(), block.begin() + 6)));

    ExaminationInfo tooLong = sampleExamination();
    tooLong.fileName = std::string(300, 'x');
    EXPECT_FALSE(OrvimSetExaminationInfoCommand::examinationBlock(tooLong, block));
    ExaminationInfo notWin1251 = sampleExamination();
    notWin1251.fileName = "测试";
    EXPECT_FALSE(OrvimSetExaminationInfoCommand::examinationBlock(notWin1251, block));
}

class ExaminationOperation : public Tavrix::Testing::OperationsFixture
{
protected:
    std::shared_ptr<SetExaminationInfoCommand> make(const ExaminationInfo& info)
    {
        return create<SetExaminationInfoCommand>(
            "SetExaminationInfo", std::make_shared<Usb::ComplexCommandCreateMultidata<unsigned, ExaminationInfo>>(1, info));
    }
};

TEST_F(ExaminationOperation, WritesFieldsRecordsAndBlockInOrder)
{
    auto command = make(sampleExamination());
    ASSERT_TRUE(command);
    std::vector<EStatus> answers;
    QObject::connect(command.get(), &SetExaminationInfoCommand::answerIsReady,
                     [&answers](Usb::ComplexCommand*, auto status) { answers.push_back(status->status); });
    ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
    std::vector<std::string> names;
    std::vector<Bytes> requests;
    while (!inFlight().empty() && names.size() < 200) {
        names.push_back(inFlight());
        requests.push_back(sent());
        answer(Testing::resultFrame(requests.back()[3]));
    }
    ASSERT_GE(names.size(), 9u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(names[i], "WriteExamInfo");
    EXPECT_EQ(requests[0][4], 1);
    EXPECT_EQ(requests[0][5], 0xC8); // "И" in Windows-1251
    EXPECT_EQ(Bytes(requests[5].begin() + 4, requests[5].end() - 3), (Bytes{6, 0xEC, 0x00}));
    EXPECT_EQ(names[6], "WriteToEeprom");
    EXPECT_EQ(requests[6][4], 0xA0);
    EXPECT_EQ(requests[6][5], 0x08);
    const auto lead = std::find(names.begin(), names.end(), "WriteLeadType");
    ASSERT_NE(lead, names.end());
    EXPECT_EQ(names.back(), "WriteToEeprom");
    EXPECT_EQ(answers, std::vector<EStatus>{Usb::DeviceCommand::OK});
}

TEST_F(ExaminationOperation, RefusesWhatCannotBeWrittenBeforeSendingAnything)
{
    ExaminationInfo unknownLead = sampleExamination();
    unknownLead.electrodes.reset();
    ExaminationInfo badYear = sampleExamination();
    badYear.startTime = Common::DateTimeObject::fromString("2100-05-05 10:00:00");
    ExaminationInfo longBlock = sampleExamination();
    longBlock.fileName = std::string(250, 'x') + std::string(250, 'y');
    // The recorder keeps 64 bytes of each name: a longer one was cut, or, far
    // longer, refused after the surname before it had been written.
    ExaminationInfo longName = sampleExamination();
    longName.name = std::string(100000, 'n');
    ExaminationInfo longSurname = sampleExamination();
    longSurname.surname = std::string(65, 's');
    ExaminationInfo longPatronymic = sampleExamination();
    longPatronymic.patronymic = std::string(32, 'p') + std::string(33, 'q');
    for (const ExaminationInfo& info : {unknownLead, badYear, longBlock, longName, longSurname, longPatronymic}) {
        auto command = make(info);
        int answers = 0;
        QObject::connect(command.get(), &SetExaminationInfoCommand::answerIsReady, [&answers] { ++answers; });
        EXPECT_EQ(command->execute()->status, Usb::DeviceCommand::BAD_DATA);
        EXPECT_TRUE(inFlight().empty());
        EXPECT_EQ(answers, 0);
    }
}

TEST_F(ExaminationOperation, AFailedStepEndsTheChainOnce)
{
    auto command = make(sampleExamination());
    std::vector<EStatus> answers;
    QObject::connect(command.get(), &SetExaminationInfoCommand::answerIsReady,
                     [&answers](Usb::ComplexCommand*, auto status) { answers.push_back(status->status); });
    ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
    for (int i = 0; i < 7; ++i)
        answer(Testing::resultFrame(sent()[3]));
    fail(Usb::DeviceCommand::TIMEOUT);
    EXPECT_EQ(answers, std::vector<EStatus>{Usb::DeviceCommand::TIMEOUT});
    EXPECT_TRUE(inFlight().empty());
}

TEST_F(ExaminationOperation, NamesOfExactlySixtyFourBytesAreWrittenWhole)
{
    ExaminationInfo info = sampleExamination();
    info.name = std::string(64, 'n');
    // 64 Cyrillic letters: two bytes each in UTF-8, one in Windows-1251.
    info.patronymic.clear();
    for (int i = 0; i < 64; ++i)
        info.patronymic += "ё";
    auto command = make(info);
    ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
    std::vector<Bytes> fields;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(inFlight(), "WriteExamInfo");
        fields.push_back(sent());
        answer(Testing::resultFrame(0x17));
    }
    EXPECT_EQ(fields[1].size(), 64u + 1 + 7);
    EXPECT_EQ(fields[2].size(), 64u + 1 + 7);
    EXPECT_EQ(fields[2][5], 0xB8); // "ё" in Windows-1251
}

// A step that fails after others reached the recorder says which did, so the
// user knows the recorder holds a mixed examination and repeats it.
TEST_F(ExaminationOperation, AFailureMidwayNamesWhatWasWrittenAndWhatWasNot)
{
    struct Row
    {
        int answered;
        int32_t failure;
        const char* text;
    };
    const Row rows[] = {
        {2, Usb::DeviceCommand::TIMEOUT,
         "SetExaminationInfo failed at Patronymic (TIMEOUT); written: Surname, Name; not written: Patronymic, "
         "BirthdayDate, flags, Sex, StartTime and lead set, LeadType, FileName and CableInfo; repeat the operation"},
        {0, Usb::DeviceCommand::DEVICE_DISCONNECTED,
         "SetExaminationInfo failed at Surname (DEVICE_DISCONNECTED); written: nothing; not written: Surname, Name, "
         "Patronymic, BirthdayDate, flags, Sex, StartTime and lead set, LeadType, FileName and CableInfo; repeat the "
         "operation"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> errors;
        const auto connection = QObject::connect(manager.get(), &Usb::UsbDeviceManager::signalError,
                                                 [&errors](std::string, std::string text) { errors.push_back(text); });
        auto command = make(sampleExamination());
        std::vector<std::shared_ptr<Usb::DeviceCommandStatus>> answers;
        QObject::connect(command.get(), &SetExaminationInfoCommand::answerIsReady,
                         [&answers](Usb::ComplexCommand*, auto status) { answers.push_back(status); });
        ASSERT_EQ(command->execute()->status, Usb::DeviceCommand::OK);
        for (int i = 0; i < row.answered; ++i)
            answer(Testing::resultFrame(sent()[3]));
        fail(row.failure);
        QObject::disconnect(connection);

        ASSERT_EQ(answers.size(), 1u);
        EXPECT_EQ(answers[0]->status, row.failure);
        const auto withText = std::dynamic_pointer_cast<Usb::DeviceCommandStatusInfo<std::string>>(answers[0]);
        ASSERT_TRUE(withText);
        EXPECT_EQ(withText->info, row.text);
        EXPECT_NE(std::find(errors.begin(), errors.end(), row.text), errors.end());
        EXPECT_TRUE(inFlight().empty());
    }
}

} // namespace
