#include "net/webapi/jsoncommandfactory.h"
#include "net/webapi/jsoncommandunit.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace Tavrix::Net::WebApi;

namespace {

std::shared_ptr<JsonCommandDescription> commandListDescription()
{
    return std::make_shared<JsonCommandDescription>(
        "GetCmdList", std::make_shared<NamelessEmptyJsonCommandUnit>(),
        std::make_shared<NamelessJsonCommandObjectUnit>(
            JsonCommandUnits{std::make_shared<JsonCommandUnit>("CmdList", EJsonUnitType::String)}));
}

std::shared_ptr<JsonCommandDescription> nestedDescription()
{
    auto data = std::make_shared<NamelessJsonCommandObjectUnit>(JsonCommandUnits{
        std::make_shared<JsonCommandUnit>("Id", EJsonUnitType::Int),
        std::make_shared<JsonCommandObjectUnit>(
            "Patient", JsonCommandUnits{std::make_shared<JsonCommandUnit>("Name", EJsonUnitType::String),
                                        std::make_shared<JsonCommandUnit>("Weight", EJsonUnitType::Float)}),
        std::make_shared<JsonCommandArrayUnit>("Uid", 12,
                                               std::make_shared<NamelessJsonCommandUnit>(EJsonUnitType::String)),
    });
    auto answer = std::make_shared<NamelessJsonCommandObjectUnit>(JsonCommandUnits{
        std::make_shared<JsonCommandArrayUnit>(
            "Points", 0,
            std::make_shared<NamelessJsonCommandObjectUnit>(
                JsonCommandUnits{std::make_shared<JsonCommandUnit>("X", EJsonUnitType::Binary)})),
        std::make_shared<JsonCommandUnit>("Ok", EJsonUnitType::Bool),
    });
    return std::make_shared<JsonCommandDescription>("WriteThings", data, answer);
}

class CountingCommand : public JsonCommand
{
public:
    CountingCommand(std::shared_ptr<JsonCommandDescription> description, int* made, std::string tag)
        : JsonCommand(std::move(description))
        , m_tag(std::move(tag))
    {
        ++*made;
    }
    std::shared_ptr<JsonCommandStatus> execute(std::shared_ptr<IJsonCommandInfo>) override
    {
        return std::make_shared<OkJsonCommandStatus>();
    }
    std::string m_tag;
};

} // namespace

TEST(JsonCommandDescription, CommandListRendersAsEightCrLfLines)
{
    EXPECT_EQ(commandListDescription()->toString(0, true), "{\r\n"
                                                           "  \"cmd\": \"GetCmdList\",\r\n"
                                                           "  \"data\": {\r\n"
                                                           "},\r\n"
                                                           "  \"answer\": {\r\n"
                                                           "  \"CmdList\": \"string\"\r\n"
                                                           "}\r\n"
                                                           "}");
}

TEST(JsonCommandDescription, NestedObjectsAndArraysRenderByteExact)
{
    EXPECT_EQ(nestedDescription()->toString(0, true), "{\r\n"
                                                      "  \"cmd\": \"WriteThings\",\r\n"
                                                      "  \"data\": {\r\n"
                                                      "  \"Id\": \"int\",\r\n"
                                                      "  \"Patient\": {\r\n"
                                                      "    \"Name\": \"string\",\r\n"
                                                      "    \"Weight\": \"float\"\r\n"
                                                      "},\r\n"
                                                      "  \"Uid\": \"array(12)\",\r\n"
                                                      "    \"__Uid_items\": \"string\"\r\n"
                                                      "},\r\n"
                                                      "  \"answer\": {\r\n"
                                                      "  \"Points\": \"array\",\r\n"
                                                      "    \"__Points_items\": {\r\n"
                                                      "      \"X\": \"binary\"\r\n"
                                                      "},\r\n"
                                                      "  \"Ok\": \"bool\"\r\n"
                                                      "}\r\n"
                                                      "}");
}

TEST(JsonCommandDescription, EveryDescriptionIsAJsonObjectWithCmdDataAnswer)
{
    for (const auto& description : {commandListDescription(), nestedDescription()}) {
        QJsonParseError error;
        const QByteArray text = QByteArray::fromStdString(description->toString(0, true));
        const QJsonDocument document = QJsonDocument::fromJson(text, &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << description->name();
        ASSERT_TRUE(document.isObject());
        EXPECT_EQ(document.object().keys(), QStringList({"answer", "cmd", "data"}));
        EXPECT_EQ(document.object().value("cmd").toString().toStdString(), description->name());
    }
}

TEST(JsonCommandUnit, TypeNamesAndQuoting)
{
    const std::pair<int, const char*> names[] = {{0, "int"},    {1, "float"},  {2, "bool"},    {3, "string"},
                                                 {4, "binary"}, {5, "object"}, {6, "array"},   {7, "unknown"},
                                                 {-1, "unknown"}};
    for (const auto& [value, name] : names) {
        const NamelessJsonCommandUnit unit(static_cast<EJsonUnitType>(value));
        EXPECT_EQ(unit.toString(4, false), name);
        EXPECT_EQ(unit.toString(4, true), std::string("\"") + name + "\"");
    }
    EXPECT_EQ(JsonCommandUnit("Level", EJsonUnitType::Int).toString(3, false), "   \"Level\": \"int\"");
    EXPECT_EQ(NamelessEmptyJsonCommandUnit().toString(6, true), "{\r\n}");
}

TEST(JsonCommandFactory, FindsNamesIgnoringCaseAndReplacesExactDuplicates)
{
    JsonCommandFactory factory;
    int made = 0;
    const auto empty = std::make_shared<NamelessEmptyJsonCommandUnit>();
    auto description = std::make_shared<JsonCommandDescription>("GetTime", empty, empty);
    factory.add<CountingCommand>(description, &made, std::string("first"));
    factory.add<CountingCommand>(description, &made, std::string("second"));
    EXPECT_EQ(factory.size(), 1u);

    for (const char* name : {"GetTime", "gettime", "GETTIME"}) {
        const auto item = factory.find(name);
        ASSERT_TRUE(item) << name;
        EXPECT_EQ(item->m_description, description);
    }
    EXPECT_FALSE(factory.find("GetTim"));
    EXPECT_FALSE(factory.find("GetTimes"));

    // Each request gets a fresh command carrying the registration values.
    const auto a = factory.find("gettime")->m_creator->create();
    const auto b = factory.find("gettime")->m_creator->create();
    EXPECT_NE(a, b);
    EXPECT_EQ(made, 2);
    EXPECT_EQ(static_cast<CountingCommand*>(a.get())->m_tag, "second");
    EXPECT_EQ(a->description(), description);
    EXPECT_EQ(a->uid(), 0u);
}
