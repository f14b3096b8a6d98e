#include "common/datetimeobject.h"
#include "usb/complexcommandcreatemultidata.h"
#include "usb/complexcommandfactory.h"
#include "usb/complexdatacommandcreator.h"
#include "usb/complexmultidatacommandcreator.h"
#include "usb/gettimecommand.h"

#include <gtest/gtest.h>

using namespace Tavrix;
using namespace Tavrix::Usb;

namespace {

class RecordingCommand : public GetTimeCommand
{
public:
    RecordingCommand(unsigned uid, std::string fixed)
        : GetTimeCommand("Recording", uid)
        , fixed(std::move(fixed))
    {
    }
    RecordingCommand(unsigned uid, Common::DateTimeObject when, std::string fixed, int number)
        : GetTimeCommand("Recording", uid)
        , when(when)
        , fixed(std::move(fixed))
        , number(number)
    {
    }
    std::shared_ptr<DeviceCommandStatus> execute() override { return std::make_shared<DeviceCommandStatus>(); }

    Common::DateTimeObject when;
    std::string fixed;
    int number = 0;
};

using DataCreator = ComplexDataCommandCreator<RecordingCommand, unsigned, std::string>;
using MultiCreator = ComplexMultidataCommandCreator<RecordingCommand, 2, unsigned, Common::DateTimeObject, std::string, int>;

TEST(ComplexCommandFactory, findsHandlersIgnoringCaseAndMissingGivesEmpty)
{
    ComplexCommandFactory factory;
    const auto creator = std::make_shared<DataCreator>("a");
    factory.add("OrvimGetTime", creator);
    EXPECT_EQ(factory.find("OrvimGetTime"), creator);
    EXPECT_EQ(factory.find("ORVIMGETTIME"), creator);
    EXPECT_EQ(factory.find("orvimgettime"), creator);
    EXPECT_FALSE(factory.find("OrvimGetTim"));
    EXPECT_FALSE(factory.find(""));
}

TEST(ComplexCommandFactory, addingUnderSameNameReplaces)
{
    ComplexCommandFactory factory;
    factory.add("OrvimGetTime", std::make_shared<DataCreator>("first"));
    factory.add("OrvimGetTime", std::make_shared<DataCreator>("second"));
    EXPECT_EQ(factory.creators().size(), 1u);
    const auto made = std::dynamic_pointer_cast<RecordingCommand>(
        factory.find("OrvimGetTime")->create(std::make_shared<ComplexCommandCreateData<unsigned>>(5u)));
    ASSERT_TRUE(made);
    EXPECT_EQ(made->fixed, "second");
    EXPECT_EQ(made->uid(), 5u);
}

TEST(ComplexCommandCreators, passDataValuesThenFixedValues)
{
    Common::DateTimeObject when = Common::DateTimeObject::fromString("2024-02-29 12:34:56");
    MultiCreator creator(std::string("fixed"), 8);
    const auto made = std::dynamic_pointer_cast<RecordingCommand>(
        creator.create(std::make_shared<ComplexCommandCreateMultidata<unsigned, Common::DateTimeObject>>(9u, when)));
    ASSERT_TRUE(made);
    EXPECT_EQ(made->uid(), 9u);
    EXPECT_EQ(made->when, when);
    EXPECT_EQ(made->fixed, "fixed");
    EXPECT_EQ(made->number, 8);
}

TEST(ComplexCommandCreators, refuseDataOfAnotherType)
{
    DataCreator single("x");
    MultiCreator multi(std::string("y"), 1);
    EXPECT_FALSE(single.create(std::make_shared<ComplexCommandCreateMultidata<unsigned, bool>>(1u, true)));
    EXPECT_FALSE(single.create(nullptr));
    EXPECT_FALSE(multi.create(std::make_shared<ComplexCommandCreateData<unsigned>>(1u)));
}

} // namespace
