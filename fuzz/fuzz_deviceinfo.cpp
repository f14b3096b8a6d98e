// The device description files: the three directories (descriptions,
// simple commands, operation handlers) as the service reads them at start-up,
// and then what the service builds from an accepted description: request
// bytes for each simple command, the signal decoders and the channels.
//
// Input: up to four files separated by NUL bytes: a description, its simple
// commands, its handlers, and a second description.

#include "fuzzsupport.h"

#include "common/jsontext.h"
#include "common/stringextensions.h"
#include "devicesinfo/deviceinfojsonparser.h"
#include "usb/deviceinfo.h"
#include "usb/useradcchannelsmanager.h"
#include "usb/usbdevicecommandset.h"
#include "usb/visframedecoderfactory.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>

using namespace Tavrix;
using FuzzSupport::Bytes;

namespace {

struct Directories
{
    QTemporaryDir root;
    QString devices = root.path() + "/Devices";
    QString commands = root.path() + "/DeviceCommands";
    QString handlers = root.path() + "/ComplexCommandHandlers";

    Directories()
    {
        FUZZ_CHECK(root.isValid());
        for (const QString& dir : {devices, commands, handlers})
            FUZZ_CHECK(QDir().mkpath(dir));
    }
};

Directories* directories = nullptr;

void place(const QString& path, const QByteArray* content)
{
    if (!content) {
        QFile::remove(path);
        return;
    }
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(*content) == content->size());
}

// A request the command set built is one frame around its payload, except
// for the raw byte command, which is sent as given. Names are looked up
// ignoring case and the first command of a name wins, so a later command of
// the same name is sent with the first one's code.
void checkRequest(const std::vector<DevicesInfo::SimpleCommandInfo>& commands,
                  const DevicesInfo::SimpleCommandInfo& named, const Bytes& payload, const Bytes& bytes)
{
    const auto& command = *std::find_if(commands.begin(), commands.end(), [&named](const auto& info) {
        return Common::StringExtensions::isEqualsInsensitive(info.name, named.name);
    });
    if (Common::StringExtensions::isEqualsInsensitive(command.name, "Custom"))
        return;
    FUZZ_CHECK(bytes.size() >= 7);
    FUZZ_CHECK(bytes.front() == 0x7E && bytes.back() == 0xBD);
    FUZZ_CHECK(bytes[1] + 256u * bytes[2] == bytes.size() - 7);
    FUZZ_CHECK(bytes[3] == command.code);
    if (command.data.sourceType == DevicesInfo::ECommandSourceType::DYNAMIC)
        FUZZ_CHECK(Bytes(bytes.begin() + 4, bytes.end() - 3) == payload);
}

void useDescription(const DevicesInfo::DeviceCommonInfo& description)
{
    Usb::DeviceInfo device;
    device.setDescription(description);
    device.hardwareVersion = 1;

    Usb::UsbDeviceCommandSet commandSet({{description.type, description}}, nullptr);
    commandSet.setDeviceInfo(device);
    for (const DevicesInfo::SimpleCommandInfo& command : device.simpleCommands) {
        std::vector<Bytes> payloads{{}};
        for (const Bytes& option : command.data.options)
            payloads.push_back(option);
        if (command.data.width > 0 && command.data.width < 4096)
            payloads.push_back(Bytes(static_cast<std::size_t>(command.data.width), 0x5A));
        for (const Bytes& payload : payloads) {
            auto launched = std::make_shared<Usb::LaunchedSimpleCommandInfo>(command.name, 1, payload);
            Bytes bytes;
            if (commandSet.createCommandBytes(launched, bytes) == Usb::DeviceCommand::OK)
                checkRequest(device.simpleCommands.items(), command, payload, bytes);
            else
                FUZZ_CHECK(bytes.empty());
        }
    }

    Usb::VisFrameDecoderFactory::create(device);
    Usb::UserAdcChannelsManager channels(128, nullptr);
    channels.setConnectedDeviceInfo(device);
    channels.getSignalsLsbInfo();
    // One plain recorder frame through the channels the description built.
    Bytes payload(50, 0x11);
    const Bytes frame = FuzzSupport::frame(0x80, payload.data(), payload.size());
    Bytes handOver{0, 0, 0, static_cast<uint8_t>(frame.size())};
    handOver.insert(handOver.end(), frame.begin(), frame.end());
    channels.slotAdcAnswer(handOver, 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::initialize(argc, argv);
    directories = new Directories;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const QList<QByteArray> parts =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<int>(size)).split('\0');
    // Qt's parser leaks the earlier value of a repeated member. Description
    // files are read once at start-up, so the service does not guard there.
    for (const QByteArray& part : parts) {
        if (Common::JsonText::hasRepeatedMember(part))
            return 0;
    }
    auto part = [&parts](int i) -> const QByteArray* { return i < parts.size() ? &parts.at(i) : nullptr; };
    place(directories->devices + "/a.json", part(0));
    place(directories->commands + "/a.json", part(1));
    place(directories->handlers + "/a.json", part(2));
    place(directories->devices + "/b.json", part(3));

    DevicesInfo::DeviceInfoMap map;
    if (!DevicesInfo::DeviceInfoJsonParser::parseDevicesInfo(directories->devices, directories->commands,
                                                            directories->handlers, map))
        return 0;
    for (const auto& [type, description] : map) {
        FUZZ_CHECK(type == description.type);
        useDescription(description);
    }
    return 0;
}
