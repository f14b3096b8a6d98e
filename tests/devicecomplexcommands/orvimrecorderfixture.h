#pragma once

// A device manager that has identified an Orvim Ferrow 8 AD (type 22) from the
// shipped description files, with the single-request operations registered.
// Requests go to the real byte command queue; the test reads what was written
// and feeds answers as the command endpoint would.

#include "devicewebapi/operationbindings.h"
#include "devicesinfo/deviceinfojsonparser.h"
#include "usb/adcchannelsmanager.h"
#include "usb/complexcommandcreatedata.h"
#include "usb/complexcommandcreatemultidata.h"
#include "usb/complexcommandfactory.h"
#include "usb/usbcontext.h"
#include "usb/usbdevicemanager.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace OrvimTesting {

using Bytes = std::vector<uint8_t>;
using namespace Tavrix;

class NoChannels : public Usb::AdcChannelsManager
{
public:
    void setConnectedDeviceInfo(const Usb::DeviceInfo&) override {}
    void restart() override {}
    std::unordered_map<DevicesInfo::DeviceChannelTypeInfo, Usb::LsbChannelInfo> getSignalsLsbInfo() override
    {
        return {};
    }
    std::string getChannelName(const DevicesInfo::DeviceChannelTypeInfo&) override { return {}; }
    void setSignalCount(const DevicesInfo::DeviceChannelTypeInfo&, uint8_t) override {}
};

inline Bytes resultFrame(uint8_t code, uint8_t result)
{
    return {0x7E, 0x01, 0x00, code, result, 0xFF, 0xFF, 0xBD};
}

// A frame with `data` after the code, as the recorder sends it.
inline Bytes frame(uint8_t code, const Bytes& data)
{
    Bytes bytes{0x7E, uint8_t(data.size() & 0xFF), uint8_t(data.size() >> 8), code};
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.insert(bytes.end(), {0xFF, 0xFF, 0xBD});
    return bytes;
}

class OrvimRecorderFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DevicesInfo::DeviceInfoMap devices;
        const QString config = DASTEL_CONFIG_DIR;
        ASSERT_TRUE(DevicesInfo::DeviceInfoJsonParser::parseDevicesInfo(
            config + "/Devices", config + "/DeviceCommands", config + "/ComplexCommandHandlers", devices));
        manager = std::make_unique<Usb::UsbDeviceManager>(
            &writer, &listener, std::unordered_map<int, DevicesInfo::DeviceCommonInfo>(devices.begin(), devices.end()),
            std::vector<Usb::CableTypeInfo>{}, &factory, std::make_shared<NoChannels>(),
            std::unordered_set<Usb::UsbDeviceManagerFlags>{Usb::UsbDeviceManagerFlags::NoAdcOn});
        DeviceWebApi::registerOperations(factory, manager.get());
        registerOperations();
        manager->handleDeviceConnect();
        answer(frame(0x02, {0x00, 0x00, 22, 0x00, 0x02, 0x01, 0x15, 0x02, 'F', '8'}));
        answer(frame(0x05, {0x00, 0x00, 0x09, 0x08, 0x12, 0x26}));
        ASSERT_TRUE(manager->isIdentified());
        ASSERT_EQ(inFlight(), "");
    }

    virtual void registerOperations() = 0;

    template<typename Op>
    std::shared_ptr<Op> create(const std::string& operation, std::shared_ptr<Usb::IComplexCommandCreateData> data)
    {
        auto command = std::dynamic_pointer_cast<Op>(manager->commandSet()->createComplexCommand(operation, data));
        EXPECT_TRUE(command) << operation;
        return command;
    }

    static std::shared_ptr<Usb::IComplexCommandCreateData> noData()
    {
        return std::make_shared<Usb::ComplexCommandCreateData<unsigned>>(1u);
    }
    template<typename... Ts>
    static std::shared_ptr<Usb::IComplexCommandCreateData> data(Ts... values)
    {
        return std::make_shared<Usb::ComplexCommandCreateMultidata<unsigned, Ts...>>(1u, values...);
    }

    std::string inFlight()
    {
        const auto command = manager->queue()->currentCommand();
        return command ? command->name() : std::string();
    }
    Bytes sent() { return writer.pendingBytes(); }
    void answer(const Bytes& bytes) { manager->queue()->handleCommandAnswerThreadSafe(bytes, 0); }
    void timeOut() { manager->queue()->handleCommandTimeout(); }

    Usb::UsbContext context{nullptr, nullptr};
    Usb::UsbCmdWriter<4> writer{"cmd", &context};
    Usb::UsbCmdListener<133> listener{"l_cmd", &context, 65535};
    Usb::ComplexCommandFactory factory;
    std::unique_ptr<Usb::UsbDeviceManager> manager;
};

} // namespace OrvimTesting
