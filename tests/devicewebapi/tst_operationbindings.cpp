// The shipped description files against the binding tables: a misspelt
// "Handler", a web command whose operation no description binds, or a
// simple command missing from a type that binds the operation sending it
// would otherwise show only at run time, as NOT_EXIST.

#include "common/stringcomparer.h"
#include "devicesinfo/deviceinfojsonparser.h"
#include "devicewebapi/operationbindings.h"
#include "net/webapi/jsoncommandunit.h"
#include "usb/complexcommandfactory.h"

#include <gtest/gtest.h>

namespace {

using namespace Tavrix;
using DeviceWebApi::OperationBinding;
using DeviceWebApi::operationBindings;

class OperationBindingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString config = DASTEL_CONFIG_DIR;
        ASSERT_TRUE(DevicesInfo::DeviceInfoJsonParser::parseDevicesInfo(
            config + "/Devices", config + "/DeviceCommands", config + "/ComplexCommandHandlers", devices));
        ASSERT_FALSE(devices.empty());
    }

    static bool same(const std::string& a, const std::string& b) { return Common::StringComparer::isEqualsInsensitive(a, b); }

    static bool describes(const DevicesInfo::DeviceCommonInfo& device, const std::string& simpleCommand)
    {
        for (const auto& command : device.simpleCommands)
            if (same(command.name, simpleCommand))
                return true;
        return false;
    }

    DevicesInfo::DeviceInfoMap devices;
};

TEST_F(OperationBindingsTest, EveryShippedHandlerHasACreator)
{
    Usb::ComplexCommandFactory factory;
    DeviceWebApi::registerOperations(factory, nullptr);
    for (const auto& [type, device] : devices)
        for (const auto& operation : device.complexCommands)
            EXPECT_TRUE(factory.find(operation.handler))
                << device.name << " binds \"" << operation.name << "\" to \"" << operation.handler
                << "\", which no binding table registers";
}

TEST_F(OperationBindingsTest, EveryWebCommandOperationIsBoundBySomeDescription)
{
    for (const OperationBinding& row : operationBindings()) {
        if (!row.describe)
            continue;
        const std::string webCommand = row.describe()->name();
        for (const std::string& operation : DeviceWebApi::operationsOf(row)) {
            bool bound = false;
            for (const auto& [type, device] : devices)
                for (const auto& described : device.complexCommands)
                    bound = bound || same(described.name, operation);
            EXPECT_TRUE(bound) << "web command \"" << webCommand << "\" runs \"" << operation
                               << "\", which no description binds";
        }
    }
}

TEST_F(OperationBindingsTest, TypesBindingAnOperationDescribeTheSimpleCommandsItSends)
{
    for (const OperationBinding& row : operationBindings()) {
        if (row.handler.empty())
            continue;
        for (const auto& [type, device] : devices) {
            bool binds = false;
            for (const auto& described : device.complexCommands)
                binds = binds || same(described.handler, row.handler);
            if (!binds)
                continue;
            for (const std::string& simpleCommand : row.simpleCommands)
                EXPECT_TRUE(describes(device, simpleCommand))
                    << device.name << " binds \"" << row.handler << "\", which sends \"" << simpleCommand
                    << "\", missing from its simple commands";
        }
    }
}

// Every row registers something, and no two rows claim one handler or one
// web command: the second would silently replace the first.
TEST_F(OperationBindingsTest, RowsAreComplete)
{
    std::vector<std::string> handlers;
    std::vector<std::string> webCommands;
    for (const OperationBinding& row : operationBindings()) {
        EXPECT_TRUE(row.describe || row.makeCreator);
        EXPECT_EQ(row.handler.empty(), row.makeCreator == nullptr) << row.handler;
        EXPECT_EQ(row.describe == nullptr, row.addWebCommand == nullptr) << row.handler;
        if (!row.handler.empty()) {
            for (const std::string& seen : handlers)
                EXPECT_FALSE(same(seen, row.handler)) << row.handler;
            handlers.push_back(row.handler);
        }
        if (row.describe) {
            const std::string name = row.describe()->name();
            for (const std::string& seen : webCommands)
                EXPECT_FALSE(same(seen, name)) << name;
            webCommands.push_back(name);
        }
    }
}

} // namespace
