#include "devicewebapi/getcmdlistjsoncommand.h"
#include "devicewebapi/gettimejsoncommand.h"
#include "net/webapi/jsoncommandfactory.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace Tavrix;
using namespace Tavrix::Net::WebApi;
using DeviceWebApi::GetCmdListJsonCommand;

namespace {

std::shared_ptr<JsonCommandDescription> describe(const std::string& name, JsonCommandUnits answer)
{
    return std::make_shared<JsonCommandDescription>(name, std::make_shared<NamelessEmptyJsonCommandUnit>(),
                                                    std::make_shared<NamelessJsonCommandObjectUnit>(answer));
}

class NeverRun : public JsonCommand
{
public:
    using JsonCommand::JsonCommand;
    std::shared_ptr<JsonCommandStatus> execute(std::shared_ptr<IJsonCommandInfo>) override { return nullptr; }
};

} // namespace

TEST(GetCmdList, answersInsideExecuteWithEveryDescriptionInFactoryOrder)
{
    JsonCommandFactory factory;
    factory.add<GetCmdListJsonCommand>(GetCmdListJsonCommand::createCommandDescription(), &factory);
    factory.add<DeviceWebApi::GetTimeJsonCommand>(DeviceWebApi::GetTimeJsonCommand::createCommandDescription(),
                                                  static_cast<Usb::UsbDeviceManager*>(nullptr));
    factory.add<NeverRun>(describe("ReadCableVersion",
                                   {std::make_shared<JsonCommandArrayUnit>(
                                       "Uid", 12, std::make_shared<NamelessJsonCommandUnit>(EJsonUnitType::String))}));
    factory.add<NeverRun>(describe("Nested", {std::make_shared<JsonCommandObjectUnit>(
                                                 "Inner", JsonCommandUnits{std::make_shared<JsonCommandUnit>(
                                                              "Value", EJsonUnitType::Float)})}));

    const std::shared_ptr<JsonCommand> command = factory.find("GetCmdList")->m_creator->create();
    QSignalSpy answers(command.get(), &JsonCommand::answerIsReady);
    const auto status = command->execute(std::make_shared<VariantJsonCommandInfo>("getcmdlist", 77, QVariant()));
    ASSERT_TRUE(status);
    EXPECT_EQ(status->code(), 0);
    ASSERT_EQ(answers.count(), 1);
    EXPECT_EQ(command->uid(), 77u);

    const auto answerStatus = answers.at(0).at(2).value<std::shared_ptr<JsonCommandStatus>>();
    ASSERT_TRUE(answerStatus);
    EXPECT_EQ(answerStatus->code(), 0);
    const QJsonArray list = answers.at(0).at(1).value<QJsonDocument>().array();
    ASSERT_EQ(list.size(), 4);
    int index = 0;
    for (const auto& item : factory) {
        const QJsonObject description = list.at(index++).toObject();
        EXPECT_EQ(description.value("cmd").toString().toStdString(), item.first);
        EXPECT_EQ(description.keys(), (QStringList{"answer", "cmd", "data"}));
    }
    // The descriptions survive the trip through text, arrays and nesting included.
    const auto findCmd = [&list](const QString& name) {
        for (const QJsonValue& value : list)
            if (value.toObject().value("cmd").toString() == name)
                return value.toObject();
        return QJsonObject();
    };
    EXPECT_EQ(findCmd("GetCmdList").value("answer").toObject(), (QJsonObject{{"CmdList", "string"}}));
    EXPECT_EQ(findCmd("ReadCableVersion").value("answer").toObject(),
              (QJsonObject{{"Uid", "array(12)"}, {"__Uid_items", "string"}}));
    EXPECT_EQ(findCmd("Nested").value("answer").toObject(),
              (QJsonObject{{"Inner", QJsonObject{{"Value", "float"}}}}));
    EXPECT_EQ(findCmd("GetTime").value("answer").toObject().keys(),
              (QStringList{"Day", "Hours", "Minutes", "Month", "Seconds", "Year"}));
    EXPECT_TRUE(findCmd("GetTime").value("data").toObject().isEmpty());
}

TEST(GetCmdList, createJsonObjectGivesAnEmptyObjectForAnythingButAnObject)
{
    EXPECT_EQ(GetCmdListJsonCommand::createJsonObject("{\r\n  \"cmd\": \"X\"\r\n}"), (QJsonObject{{"cmd", "X"}}));
    for (const char* text : {"", "{\"cmd\": ", "[1, 2]", "\"text\"", "not json"})
        EXPECT_TRUE(GetCmdListJsonCommand::createJsonObject(text).isEmpty()) << text;
}
