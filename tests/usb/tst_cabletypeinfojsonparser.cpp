#include "usb/cabletypeinfojsonparser.h"
#include "usb/leadgroupmap.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace Tavrix::Usb;

namespace {

QVariantMap objectOf(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).toVariant().toMap();
}

} // namespace

TEST(CableTypeInfoJsonParser, LeadGroupsByName)
{
    const std::pair<const char*, int> cases[] = {
        {"Cab8", 1},   {"Cab8Mono", 1}, {"Cab1", 18},      {"Cab2Nehb", 32}, {"Cab35", 5},
        {"Cab37", 3},  {"CabNone", 17}, {"Manual16", 100}, {"Manual24", 101}, {"Cab8Ecg", 30}};
    for (const auto& [name, number] : cases) {
        CableTypeInfo info;
        const QByteArray json = QByteArray(R"({"LeadGroup": ")") + name + R"(", "Type": 2})";
        EXPECT_TRUE(CableTypeInfoJsonParser::parseCable(objectOf(json), &info)) << name;
        EXPECT_EQ(info.leadGroup, number) << name;
    }
}

TEST(CableTypeInfoJsonParser, UnknownOrWrongCaseLeadGroupIsRejectedWithoutTexts)
{
    for (const char* name : {"cab1", "Cab9", ""}) {
        CableTypeInfo info;
        const QByteArray json = QByteArray(R"({"LeadGroup": ")") + name + R"(", "Type": 300, "Name": "N"})";
        EXPECT_FALSE(CableTypeInfoJsonParser::parseCable(objectOf(json), &info)) << name;
        EXPECT_EQ(info.leadGroup, 0);
        EXPECT_EQ(info.name, "");
    }
}

TEST(CableTypeInfoJsonParser, NumbersAreNarrowedAndMissingTextsAreEmpty)
{
    CableTypeInfo info;
    ASSERT_TRUE(CableTypeInfoJsonParser::parseCable(
        objectOf(R"({"LeadGroup": "Cab37", "Type": 300, "Pack": 513, "Name": "ЭКГ 3", "FullName": "full"})"), &info));
    EXPECT_EQ(info.type, 44);
    EXPECT_EQ(info.pack, 1);
    EXPECT_EQ(info.name, "ЭКГ 3");
    EXPECT_EQ(info.serie, "");
    EXPECT_EQ(info.vin, "");
    EXPECT_EQ(info.connectorType, "");
}

TEST(CableTypeInfoJsonParser, WholeFile)
{
    std::vector<CableTypeInfo> cables;
    EXPECT_TRUE(CableTypeInfoJsonParser::parseCables(R"({"Cables": []})", cables));
    EXPECT_TRUE(cables.empty());
    EXPECT_TRUE(CableTypeInfoJsonParser::parseCables(R"({"Other": 1})", cables));
    EXPECT_TRUE(cables.empty());

    EXPECT_FALSE(CableTypeInfoJsonParser::parseCables("[]", cables));
    EXPECT_FALSE(CableTypeInfoJsonParser::parseCables("", cables));
    EXPECT_FALSE(CableTypeInfoJsonParser::parseCables(
        R"({"Cables": [{"LeadGroup": "Cab1", "Type": 1}, {"LeadGroup": "bad"}]})", cables));

    cables.clear();
    ASSERT_TRUE(CableTypeInfoJsonParser::parseCables(
        R"({"Cables": [{"LeadGroup": "Cab1", "Type": 4, "Name": "first"},
                       {"LeadGroup": "Cab8", "Type": 4, "Name": "second"}]})", cables));
    ASSERT_EQ(cables.size(), 2u);
    // Two cables with one type code: the first in the file is the one found.
    ASSERT_NE(CableTypeInfo::find(cables, 4), nullptr);
    EXPECT_EQ(CableTypeInfo::find(cables, 4)->name, "first");
    EXPECT_EQ(CableTypeInfo::find(cables, 5), nullptr);
}

TEST(LeadGroupMap, HoldsTheFourteenNames)
{
    EXPECT_EQ(LeadGroupMap().size(), 14u);
}
