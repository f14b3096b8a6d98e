#pragma once

#include "devicesinfo/devicecommoninfo.h"

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <unordered_map>
#include <utility>

namespace Tavrix::DevicesInfo {

using DeviceInfoMap = std::unordered_map<int, DeviceCommonInfo>;

// Reads the three description directories. Every fault stops the whole read
// after logging which file broke it.
class DeviceInfoJsonParser
{
public:
    static bool parseDevicesInfo(const QString& devicesDir, const QString& commandsDir,
                                 const QString& handlersDir, DeviceInfoMap& map);

    static DeviceCommonInfo parseDeviceCommonInfo(const QVariantMap& map, bool& ok);
    static bool parseDeviceSimpleCommands(const QString& file, DeviceInfoMap& map);
    static bool parseComplexCommandInfo(const QString& file, DeviceInfoMap& map);
    // Shared first step of the two above: the device the file names and its
    // "Commands" list; null device on failure.
    static std::pair<DeviceCommonInfo*, QVariantList> parseCommandsInfo(const QString& file,
                                                                        DeviceInfoMap& map,
                                                                        bool& ok);
    static SimpleCommandInfo parseSimpleCommand(const QVariantMap& map, bool& ok);
    static SimpleCommandData parseSimpleCommandData(const QVariantMap& map, bool& ok);
    static ComplexCommandInfo parseComplexCommand(const QVariantMap& map, bool& ok);

    static uint8_t parseByte(const QString& text, bool& ok);
    static std::vector<uint8_t> parseByteList(const QStringList& list, bool& ok);
    static ECommandDataType parseCommandDataType(const QString& text, bool& ok);

    // The *.json / *.JSON files of a directory, in listing order.
    static QStringList jsonFiles(const QString& dir);
};

} // namespace Tavrix::DevicesInfo
