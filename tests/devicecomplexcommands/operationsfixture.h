#pragma once

// A device manager identified as a type-21 recorder from the shipped
// descriptions, with every device operation registered, its real byte
// command queue, and no USB: requests are read from the command writer and
// answers fed to the queue.

#include "devicesinfo/deviceinfojsonparser.h"
#include "devicewebapi/operationbindings.h"
#include "usb/adcchannelsmanager.h"
#include "usb/complexcommandcreatedata.h"
#include "usb/complexcommandcreatemultidata.h"
#include "usb/complexcommandfactory.h"
#include "usb/usbcontext.h"
#include "usb/usbdatalistener.h"
#include "usb/usbdevicemanager.h"

#include <QDir>
#include <gtest/gtest.h>

namespace Tavrix::Testing {

using Bytes = std::vector<uint8_t>;

class NoChannels : public Usb::AdcChannelsManager
{
public:
    void setConnectedDeviceInfo(const Usb::DeviceInfo&) override {}
    void restart() override {}
    std::unordered_map<DevicesInfo::DeviceChannelTypeInfo, Usb::LsbChannelInfo> getSignalsLsbInfo() override { return {}; }
    std::string getChannelName(const DevicesInfo::DeviceChannelTypeInfo&) override { return {}; }
    void setSignalCount(const DevicesInfo::DeviceChannelTypeInfo&, uint8_t) override {}
};

inline Bytes frame(uint8_t code, const Bytes& data)
{
    Bytes bytes{0x7E, uint8_t(data.size() & 0xFF), uint8_t(data.size() >> 8), code};
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.insert(bytes.end(), {0xFF, 0xFF, 0xBD});
    return bytes;
}

inline Bytes resultFrame(uint8_t code)
{
    return frame(code, {0x00});
}

class OperationsFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DevicesInfo::DeviceInfoMap devices;
        const QDir config(DASTEL_CONFIG_DIR);
        ASSERT_TRUE(DevicesInfo::DeviceInfoJsonParser::parseDevicesInfo(
            config.filePath("Devices"), config.filePath("DeviceCommands"), config.filePath("ComplexCommandHandlers"),
            devices));
        Usb::CableTypeInfo five;
        five.type = 5;
        five.pack = 1;
        five.leadGroup = 31;
        Usb::CableTypeInfo placeholder;
        placeholder.type = 0; // an all-zero record
        manager = std::make_unique<Usb::UsbDeviceManager>(&writer, &cmdListener, devices,
                                                          std::vector<Usb::CableTypeInfo>{five, placeholder}, &factory,
                                                          std::make_shared<NoChannels>(), std::unordered_set<Usb::UsbDeviceManagerFlags>{});
        DeviceWebApi::registerOperations(factory, manager.get(), nullptr, &dataListener);
        manager->handleDeviceConnect();
        answer(Bytes{0x7E, 0x0A, 0x00, 0x02, 0x00, 0x00, 21, 0x00, 0x00, 0x01, 0x03, 0x01, 'F', 'e', 0xFF, 0xFF, 0xBD});
        answer(Bytes{0x7E, 0x06, 0x00, 0x05, 0x56, 0x34, 0x12, 0x29, 0x02, 0x24, 0xFF, 0xFF, 0xBD});
        ASSERT_TRUE(manager->isIdentified());
        while (!inFlight().empty())
            answer(resultFrame(0x07));
    }

    std::string inFlight()
    {
        const auto command = manager->queue()->currentCommand();
        return command ? command->name() : std::string();
    }
    Bytes sent() { return writer.pendingBytes(); }
    void answer(const Bytes& bytes) { manager->queue()->handleCommandAnswerThreadSafe(bytes, 0); }
    void fail(int32_t status) { manager->queue()->handleCommandAnswerThreadSafe({}, status); }

    template<typename Op>
    std::shared_ptr<Op> create(const std::string& name, std::shared_ptr<Usb::IComplexCommandCreateData> data = {})
    {
        if (!data)
            data = std::make_shared<Usb::ComplexCommandCreateData<unsigned>>(manager->generateUid());
        return std::dynamic_pointer_cast<Op>(manager->commandSet()->createComplexCommand(name, data));
    }

    Usb::UsbContext context{nullptr, nullptr};
    Usb::UsbCmdWriter<4> writer{"cmd", &context};
    Usb::UsbCmdListener<133> cmdListener{"l_cmd", &context, 65535};
    Usb::UsbDataListener dataListener{"data", &context, 1048576};
    Usb::ComplexCommandFactory factory;
    std::unique_ptr<Usb::UsbDeviceManager> manager;
};

} // namespace Tavrix::Testing
