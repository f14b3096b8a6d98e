#include "devicesinfo/deviceinfojsonparser.h"
#include "support/tempconfigtree.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace Tavrix::DevicesInfo;

namespace {

const QByteArray deviceFile = R"({
    "Type": 7, "Series": "QB", "Name": "Orvim test", "FileNameTag": "T",
    "VoltageForStartWriting": 3.6, "VisFrameFormat": "DeviceFerrowSeries",
    "Channels": [
        {"Type": "ecg", "Source": "Device", "Name": "ECG", "MaxSignalCount": 8},
        {"Type": "Volume", "Source": "Device", "Name": "skipped"},
        {"Type": "Acc", "Source": "Nowhere", "Name": "skipped too"},
        {"Type": "Acc", "Source": "cable", "Name": "Cable acc", "MaxSignalCount": 259}
    ]})";

QByteArray commandFile(int type, const QByteArray& commands)
{
    return "{\"Type\": " + QByteArray::number(type) + ", \"Commands\": [" + commands + "]}";
}

const QByteArray readPower = R"({"Name": "ReadPower", "Description": "battery", "Code": "0x0C",
    "Data": {"SourceType": "FIXED", "AnswerType": "INT", "Width": 0, "Options": []}})";

struct Tree
{
    TempConfigTree tree;
    Tree()
    {
        tree.mkdir("Devices");
        tree.mkdir("DeviceCommands");
        tree.mkdir("ComplexCommandHandlers");
    }
    bool parse(DeviceInfoMap& map) const
    {
        return DeviceInfoJsonParser::parseDevicesInfo(tree.path("Devices"), tree.path("DeviceCommands"),
                                                      tree.path("ComplexCommandHandlers"), map);
    }
};

QVariantMap objectOf(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).toVariant().toMap();
}

} // namespace

TEST(DeviceInfoJsonParser, ReadsAWholeDescriptionTree)
{
    Tree t;
    t.tree.write("Devices/d.json", deviceFile);
    t.tree.write("DeviceCommands/c.json", commandFile(7, readPower));
    t.tree.write("ComplexCommandHandlers/h.JSON",
                 commandFile(7, R"({"Name": "GetTime", "Description": "clock", "Handler": "OrvimGetTime"})"));
    t.tree.write("Devices/ignored.txt", "not json");

    DeviceInfoMap map;
    ASSERT_TRUE(t.parse(map));
    ASSERT_EQ(map.count(7), 1u);
    const DeviceCommonInfo& d = map.at(7);
    EXPECT_EQ(d.name, "Orvim test");
    EXPECT_EQ(d.series, ESeries::QB);
    EXPECT_FLOAT_EQ(d.voltageForStartWriting, 3.6f);
    EXPECT_EQ(d.visFrameFormat, "DeviceFerrowSeries");
    ASSERT_EQ(d.channels.size(), 2u); // unknown type and source are skipped silently
    EXPECT_EQ(d.channels[0].typeInfo, (DeviceChannelTypeInfo{EChannelType::Ecg, EChannelSource::Device}));
    EXPECT_EQ(d.channels[0].maxSignalCount, 8);
    EXPECT_EQ(d.channels[1].typeInfo.source, EChannelSource::Cable);
    EXPECT_EQ(d.channels[1].maxSignalCount, 3); // narrowed to 8 bits
    ASSERT_EQ(d.simpleCommands.size(), 2u);
    EXPECT_EQ(d.simpleCommands[0].code, 0x0C);
    EXPECT_EQ(d.simpleCommands[0].data.answerType, ECommandDataType::INT);
    EXPECT_EQ(d.simpleCommands[1].name, "Custom");
    EXPECT_EQ(d.simpleCommands[1].data.width, -1);
    ASSERT_EQ(d.complexCommands.size(), 1u);
    EXPECT_EQ(d.complexCommands[0].handler, "OrvimGetTime");
}

TEST(DeviceInfoJsonParser, CommandsOfTwoFilesEachEndWithCustom)
{
    Tree t;
    t.tree.write("Devices/d.json", deviceFile);
    t.tree.write("DeviceCommands/a.json", commandFile(7, readPower));
    t.tree.write("DeviceCommands/b.json", commandFile(7, readPower));
    DeviceInfoMap map;
    ASSERT_TRUE(t.parse(map));
    const auto& commands = map.at(7).simpleCommands;
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[1].name, "Custom");
    EXPECT_EQ(commands[3].name, "Custom");
}

TEST(DeviceInfoJsonParser, FailingFilesStopTheRead)
{
    struct Case
    {
        const char* what;
        const char* file;
        QByteArray content;
    };
    const Case cases[] = {
        {"device file not an object", "Devices/x.json", "[1, 2]"},
        {"malformed device file", "Devices/x.json", "{\"Type\": "},
        {"device type not a number", "Devices/x.json", R"({"Type": "seven"})"},
        {"commands for an unknown device", "DeviceCommands/x.json", commandFile(99, readPower)},
        {"bad code text", "DeviceCommands/x.json",
         commandFile(7, R"({"Name": "A", "Code": "7E", "Data": {"SourceType": "FIXED", "AnswerType": "INT", "Width": 0}})")},
        {"unknown source type", "DeviceCommands/x.json",
         commandFile(7, R"({"Name": "A", "Code": "0x01", "Data": {"SourceType": "STATIC", "AnswerType": "INT", "Width": 0}})")},
        {"unknown answer type", "DeviceCommands/x.json",
         commandFile(7, R"({"Name": "A", "Code": "0x01", "Data": {"SourceType": "FIXED", "AnswerType": "FLOAT", "Width": 0}})")},
        {"missing width", "DeviceCommands/x.json",
         commandFile(7, R"({"Name": "A", "Code": "0x01", "Data": {"SourceType": "FIXED", "AnswerType": "INT"}})")},
        {"bad option byte", "DeviceCommands/x.json",
         commandFile(7, R"({"Name": "A", "Code": "0x01", "Data": {"SourceType": "DYNAMIC", "DataType": "INT", "AnswerType": "INT", "Width": 1, "Options": [["0x01"], ["0x123"]]}})")},
        {"dynamic with bad data type", "DeviceCommands/x.json",
         commandFile(7, R"({"Name": "A", "Code": "0x01", "Data": {"SourceType": "DYNAMIC", "DataType": "WORD", "AnswerType": "INT", "Width": 1}})")},
        {"handlers for an unknown device", "ComplexCommandHandlers/x.json",
         commandFile(8, R"({"Name": "GetTime", "Handler": "OrvimGetTime"})")},
    };
    for (const Case& c : cases) {
        Tree t;
        t.tree.write("Devices/d.json", deviceFile);
        t.tree.write(c.file, c.content);
        DeviceInfoMap map;
        EXPECT_FALSE(t.parse(map)) << c.what;
    }
}

TEST(DeviceInfoJsonParser, ByteTexts)
{
    const std::pair<const char*, int> good[] = {{"0x7E", 0x7E}, {"0x7", 7}, {"0xff", 0xFF}, {"0x00", 0}};
    for (const auto& [text, value] : good) {
        bool ok = false;
        EXPECT_EQ(DeviceInfoJsonParser::parseByte(text, ok), value) << text;
        EXPECT_TRUE(ok) << text;
    }
    for (const char* text : {"0X7E", "7E", "0x123", "0x", "0xg1", "0x+1", "0x 1", ""}) {
        bool ok = true;
        DeviceInfoJsonParser::parseByte(text, ok);
        EXPECT_FALSE(ok) << text;
    }
}

TEST(DeviceInfoJsonParser, CommonInfoSeriesAndTypeNarrowing)
{
    bool ok = false;
    DeviceCommonInfo info = DeviceInfoJsonParser::parseDeviceCommonInfo(objectOf(R"({"Type": 65537, "Series": "A"})"), ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(info.type, 1);
    EXPECT_EQ(info.series, ESeries::Other);

    info = DeviceInfoJsonParser::parseDeviceCommonInfo(objectOf(R"({"Type": "12", "Series": "QA"})"), ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(info.type, 12);
    EXPECT_EQ(info.series, ESeries::QA);

    info = DeviceInfoJsonParser::parseDeviceCommonInfo(objectOf(R"({"Type": 5, "Series": "filesystem", "Name": "x"})"), ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(info.type, 0);
    EXPECT_EQ(info.name, "");
    EXPECT_EQ(info.series, ESeries::NotRead);
}

TEST(DeviceInfoJsonParser, FixedCommandTakesItsFirstOption)
{
    bool ok = false;
    const SimpleCommandData data = DeviceInfoJsonParser::parseSimpleCommandData(
        objectOf(R"({"SourceType": "fixed", "DataType": "TEXT", "AnswerType": "binary", "Width": 0,
                     "Options": [["0x01", "0x02"], ["0x03"]]})"), ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(data.sourceType, ECommandSourceType::FIXED);
    EXPECT_EQ(data.dataType, ECommandDataType::BINARY); // FIXED commands always carry binary
    ASSERT_EQ(data.options.size(), 2u);
    EXPECT_EQ(data.options[0], (std::vector<uint8_t>{0x01, 0x02}));
}

TEST(DeviceInfoJsonParser, DuplicateDeviceTypeKeepsOneRecord)
{
    Tree t;
    t.tree.write("Devices/a.json", R"({"Type": 3, "Name": "A"})");
    t.tree.write("Devices/b.json", R"({"Type": 3, "Name": "B"})");
    DeviceInfoMap map;
    ASSERT_TRUE(t.parse(map));
    EXPECT_EQ(map.size(), 1u);
}
