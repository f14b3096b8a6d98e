#include "usb/usbdevicecommandset.h"

#include "common/stringextensions.h"
#include "usb/complexcommand.h"
#include "usb/complexcommandfactory.h"
#include "usb/recorderframe.h"

#include <algorithm>

namespace Tavrix::Usb {

using Common::StringExtensions;
using DevicesInfo::ECommandSourceType;

namespace {

bool startsWith(const std::vector<uint8_t>& data, const std::vector<uint8_t>& prefix)
{
    return data.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
}

} // namespace

UsbDeviceCommandSet::UsbDeviceCommandSet(const std::unordered_map<int, DevicesInfo::DeviceCommonInfo>& devices,
                                         ComplexCommandFactory* factory,
                                         QObject* parent)
    : QObject(parent)
    , m_devices(devices)
    , m_factory(factory)
{
}

DeviceCommand::EStatus UsbDeviceCommandSet::createCommandBytes(std::shared_ptr<LaunchedSimpleCommandInfo> launched,
                                                               std::vector<uint8_t>& out) const
{
    if (m_deviceInfo.isDefault())
        return DeviceCommand::DEVICE_DISCONNECTED;
    if (!launched)
        return DeviceCommand::BAD_DATA;

    const auto& commands = m_deviceInfo.simpleCommands;
    const auto command = std::find_if(commands.begin(), commands.end(), [&launched](const auto& info) {
        return StringExtensions::isEqualsInsensitive(info.name, launched->name);
    });
    if (command == commands.end())
        return DeviceCommand::NOT_EXIST;

    const auto& rules = command->data;
    std::vector<uint8_t> payload;
    if (rules.sourceType == ECommandSourceType::FIXED) {
        if (!launched->data.empty())
            return DeviceCommand::BAD_DATA;
        if (!rules.options.empty())
            payload = rules.options.front();
    } else if (rules.sourceType == ECommandSourceType::DYNAMIC) {
        if (rules.width >= 0 && launched->data.size() != static_cast<size_t>(rules.width))
            return DeviceCommand::BAD_DATA;
        if (!rules.options.empty()) {
            const bool matches = std::any_of(rules.options.begin(), rules.options.end(),
                                             [&launched](const std::vector<uint8_t>& option) {
                                                 return startsWith(launched->data, option);
                                             });
            if (!matches)
                return DeviceCommand::BAD_DATA;
        }
        payload = launched->data;
    }

    if (StringExtensions::isEqualsInsensitive(command->name, "Custom")) {
        out.insert(out.end(), payload.begin(), payload.end());
        return DeviceCommand::OK;
    }

    // The length field is 16 bits wide; a longer payload cannot be framed.
    const std::vector<uint8_t> frame = RecorderFrame::request(command->code, payload);
    if (frame.empty())
        return DeviceCommand::BAD_DATA;
    out.insert(out.end(), frame.begin(), frame.end());
    return DeviceCommand::OK;
}

std::shared_ptr<ComplexCommand> UsbDeviceCommandSet::createComplexCommand(
    const std::string& name, std::shared_ptr<IComplexCommandCreateData> data) const
{
    if (!m_factory)
        return {};
    const auto& commands = m_deviceInfo.complexCommands;
    const auto command = std::find_if(commands.begin(), commands.end(), [&name](const auto& info) {
        return StringExtensions::isEqualsInsensitive(info.name, name);
    });
    if (command == commands.end())
        return {};
    const auto creator = m_factory->find(command->handler);
    if (!creator)
        return {};
    return creator->create(std::move(data));
}

} // namespace Tavrix::Usb
