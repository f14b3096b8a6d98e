#pragma once

#include "devicesinfo/devicecommoninfo.h"
#include "usb/devicecommand.h"
#include "usb/deviceinfo.h"
#include "usb/launchedsimplecommandinfo.h"

#include <QObject>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace Tavrix::Usb {

class ComplexCommand;
class ComplexCommandFactory;
class IComplexCommandCreateData;

// The one place that turns named device commands into bytes for the command
// endpoint, and operation names into complex commands, for whichever device
// is connected. The device manager replaces the device record.
class UsbDeviceCommandSet : public QObject
{
    Q_OBJECT

public:
    UsbDeviceCommandSet(const std::unordered_map<int, DevicesInfo::DeviceCommonInfo>& devices,
                        ComplexCommandFactory* factory,
                        QObject* parent = nullptr);

    // Appends the request bytes to out; out stays untouched on failure.
    DeviceCommand::EStatus createCommandBytes(std::shared_ptr<LaunchedSimpleCommandInfo> launched,
                                              std::vector<uint8_t>& out) const;
    // The complex command bound to name for the active device; empty when the
    // device does not define it or its handler has no creator.
    std::shared_ptr<ComplexCommand> createComplexCommand(const std::string& name,
                                                         std::shared_ptr<IComplexCommandCreateData> data) const;

    void setDeviceInfo(const DeviceInfo& info) { m_deviceInfo = info; }
    void resetDeviceInfo() { m_deviceInfo = DeviceInfo(); }
    const DeviceInfo& deviceInfo() const { return m_deviceInfo; }
    const std::unordered_map<int, DevicesInfo::DeviceCommonInfo>& devices() const { return m_devices; }

private:
    DeviceInfo m_deviceInfo;
    std::unordered_map<int, DevicesInfo::DeviceCommonInfo> m_devices;
    ComplexCommandFactory* m_factory;
};

} // namespace Tavrix::Usb
