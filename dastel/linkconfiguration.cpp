#include "dastel/linkconfiguration.h"

#include "common/datetimeobject.h"
#include "common/jfile.h"
#include "common/jterminal.h"
#include "usb/cabletypeinfojsonparser.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <cstdlib>

namespace Tavrix::Dastel {

using Common::JTerminal;

namespace {

[[noreturn]] void endProcess(int status)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(status);
}

} // namespace

LinkConfiguration::LinkConfiguration(const QString& appDir, QObject* parent)
    : QObject(parent)
{
    Common::DateTimeObject::registerMetaType();

    const QString settingsPath = appDir + "/settings.json";
    if (!QFileInfo::exists(settingsPath)) {
        JTerminal('1') << "no file" << settingsPath;
        endProcess(1);
    }
    const QJsonDocument document = QJsonDocument::fromJson(Common::JFile::readFile(settingsPath));
    if (!document.isObject()) {
        JTerminal('1') << "json object interpretation error";
        endProcess(1);
    }
    const Settings settings = Settings::fromVariantMap(document.object().toVariantMap(), appDir);

    JTerminal('2') << "Start";

    // Description files are looked up beside the running executable.
    const QString exeDir = QCoreApplication::applicationDirPath();
    DevicesInfo::DeviceInfoMap devices;
    if (!readDescriptions(exeDir, devices))
        return;
    std::vector<Usb::CableTypeInfo> cables;
    if (!readCableTypes(exeDir, cables))
        return;

    JTerminal('0') << "device types:" << static_cast<int>(devices.size())
                   << "cable types:" << static_cast<int>(cables.size());

    // The USB worker, route tables, command linker, HTTP server, stream
    // servers and terminal are created here, in that order, as they land.
    Q_UNUSED(settings);
    m_built = true;
}

LinkConfiguration::~LinkConfiguration() = default;

bool LinkConfiguration::readDescriptions(const QString& dir, DevicesInfo::DeviceInfoMap& devices)
{
    if (DevicesInfo::DeviceInfoJsonParser::parseDevicesInfo(dir + "/Devices", dir + "/DeviceCommands",
                                                            dir + "/ComplexCommandHandlers", devices))
        return true;
    JTerminal('1') << "Error: can't read device info";
    return false;
}

bool LinkConfiguration::readCableTypes(const QString& dir, std::vector<Usb::CableTypeInfo>& cables)
{
    return Usb::CableTypeInfoJsonParser::parseCables(Common::JFile::readFile(dir + "/Cables.json"),
                                                     cables);
}

} // namespace Tavrix::Dastel
