#include "devicesinfo/deviceinfojsonparser.h"

#include "common/jfile.h"
#include "common/jterminal.h"
#include "common/stringextensions.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <cctype>

namespace Tavrix::DevicesInfo {

using Common::JTerminal;
using Common::StringExtensions;

namespace {

bool readJsonObject(const QString& file, QVariantMap& out)
{
    const QJsonDocument document = QJsonDocument::fromJson(Common::JFile::readFile(file));
    if (!document.isObject()) {
        JTerminal('3') << "json object interpretation error";
        return false;
    }
    out = document.object().toVariantMap();
    return true;
}

bool equalsInsensitive(const QString& a, const char* b)
{
    return StringExtensions::isEqualsInsensitive(a.toStdString(), b);
}

EChannelType channelTypeFrom(const QString& text)
{
    static const std::pair<const char*, EChannelType> names[] = {
        {"Ecg", EChannelType::Ecg}, {"Reo", EChannelType::Reo}, {"Acc", EChannelType::Acc},
        {"Prs", EChannelType::Prs}, {"Ton", EChannelType::Ton}, {"Oxy", EChannelType::Oxy}};
    for (const auto& [name, type] : names) {
        if (equalsInsensitive(text, name))
            return type;
    }
    return EChannelType::Unknown;
}

EChannelSource channelSourceFrom(const QString& text)
{
    if (equalsInsensitive(text, "Device"))
        return EChannelSource::Device;
    if (equalsInsensitive(text, "Cable"))
        return EChannelSource::Cable;
    return EChannelSource::Unknown;
}

} // namespace

QStringList DeviceInfoJsonParser::jsonFiles(const QString& dir)
{
    QDir directory(dir);
    const QStringList names = directory.entryList({"*.json", "*.JSON"}, QDir::Files, QDir::Unsorted);
    QStringList files;
    for (const QString& name : names)
        files << directory.filePath(name);
    return files;
}

bool DeviceInfoJsonParser::parseDevicesInfo(const QString& devicesDir, const QString& commandsDir,
                                            const QString& handlersDir, DeviceInfoMap& map)
{
    for (const QString& file : jsonFiles(devicesDir)) {
        QVariantMap object;
        if (!readJsonObject(file, object))
            return false;
        bool ok = false;
        DeviceCommonInfo info = parseDeviceCommonInfo(object, ok);
        if (!ok) {
            JTerminal('1') << "Error: can't read devices common info: " << file;
            return false;
        }
        map.emplace(info.type, std::move(info)); // the first record of a type wins
    }
    for (const QString& file : jsonFiles(commandsDir)) {
        if (!parseDeviceSimpleCommands(file, map)) {
            JTerminal('1') << "Error: can't read devices simple commands info: " << file;
            return false;
        }
    }
    for (const QString& file : jsonFiles(handlersDir)) {
        if (!parseComplexCommandInfo(file, map)) {
            JTerminal('1') << "Error: can't read devices complex commands info: " << file;
            return false;
        }
    }
    return true;
}

DeviceCommonInfo DeviceInfoJsonParser::parseDeviceCommonInfo(const QVariantMap& map, bool& ok)
{
    ok = false;
    const uint type = map.value("Type").toUInt(&ok);
    if (!ok)
        return {};

    DeviceCommonInfo info;
    info.type = static_cast<uint16_t>(type);
    for (const QVariant& element : map.value("Channels").toList()) {
        const QVariantMap channelMap = element.toMap();
        DeviceChannelCommonInfo channel;
        channel.typeInfo.type = channelTypeFrom(channelMap.value("Type").toString());
        channel.typeInfo.source = channelSourceFrom(channelMap.value("Source").toString());
        if (channel.typeInfo.type == EChannelType::Unknown
            || channel.typeInfo.source == EChannelSource::Unknown)
            continue;
        channel.name = channelMap.value("Name").toString().toStdString();
        channel.maxSignalCount = static_cast<uint8_t>(channelMap.value("MaxSignalCount").toUInt());
        info.channels.push_back(channel);
    }

    const QString series = map.value("Series").toString();
    if (series == "QB") {
        info.series = ESeries::QB;
    } else if (series == "QA") {
        info.series = ESeries::QA;
    } else if (equalsInsensitive(series, "FileSystem")) {
        ok = true;
        return {};
    } else {
        info.series = ESeries::Other;
    }

    info.name = map.value("Name").toString().toStdString();
    info.fileNameTag = map.value("FileNameTag").toString().toStdString();
    info.voltageForStartWriting = map.value("VoltageForStartWriting").toFloat();
    info.visFrameFormat = map.value("VisFrameFormat").toString().toStdString();
    ok = true;
    return info;
}

std::pair<DeviceCommonInfo*, QVariantList>
DeviceInfoJsonParser::parseCommandsInfo(const QString& file, DeviceInfoMap& map, bool& ok)
{
    ok = false;
    QVariantMap object;
    if (!readJsonObject(file, object))
        return {nullptr, {}};
    const int type = object.value("Type").toInt();
    auto it = map.find(type);
    if (it == map.end()) {
        JTerminal('3') << "device with type\"" << type << "\" is not found!";
        return {nullptr, {}};
    }
    ok = true;
    return {&it->second, object.value("Commands").toList()};
}

bool DeviceInfoJsonParser::parseDeviceSimpleCommands(const QString& file, DeviceInfoMap& map)
{
    bool ok = false;
    auto [device, commands] = parseCommandsInfo(file, map, ok);
    if (!ok)
        return false;
    for (const QVariant& element : commands) {
        SimpleCommandInfo command = parseSimpleCommand(element.toMap(), ok);
        if (!ok)
            return false;
        device->simpleCommands.push_back(std::move(command));
    }
    device->simpleCommands.push_back(SimpleCommandInfo::custom());
    return true;
}

bool DeviceInfoJsonParser::parseComplexCommandInfo(const QString& file, DeviceInfoMap& map)
{
    bool ok = false;
    auto [device, commands] = parseCommandsInfo(file, map, ok);
    if (!ok)
        return false;
    for (const QVariant& element : commands)
        device->complexCommands.push_back(parseComplexCommand(element.toMap(), ok));
    return true;
}

SimpleCommandInfo DeviceInfoJsonParser::parseSimpleCommand(const QVariantMap& map, bool& ok)
{
    SimpleCommandInfo command;
    command.name = map.value("Name").toString().toStdString();
    command.description = map.value("Description").toString().toStdString();
    command.code = parseByte(map.value("Code").toString(), ok);
    if (!ok)
        return {};
    command.data = parseSimpleCommandData(map.value("Data").toMap(), ok);
    return command;
}

SimpleCommandData DeviceInfoJsonParser::parseSimpleCommandData(const QVariantMap& map, bool& ok)
{
    SimpleCommandData data;
    const QString source = map.value("SourceType").toString();
    if (equalsInsensitive(source, "DYNAMIC")) {
        data.sourceType = ECommandSourceType::DYNAMIC;
        data.dataType = parseCommandDataType(map.value("DataType").toString(), ok);
        if (!ok)
            return {};
    } else if (equalsInsensitive(source, "FIXED")) {
        data.sourceType = ECommandSourceType::FIXED;
        data.dataType = ECommandDataType::BINARY;
    } else {
        ok = false;
        return {};
    }

    data.answerType = parseCommandDataType(map.value("AnswerType").toString(), ok);
    if (!ok)
        return {};

    data.width = map.value("Width").toInt(&ok);
    if (!ok)
        return {};

    for (const QVariant& option : map.value("Options").toList()) {
        std::vector<uint8_t> bytes = parseByteList(option.toStringList(), ok);
        if (!ok)
            return {};
        data.options.push_back(std::move(bytes));
    }
    ok = true;
    return data;
}

ComplexCommandInfo DeviceInfoJsonParser::parseComplexCommand(const QVariantMap& map, bool& ok)
{
    ok = true;
    ComplexCommandInfo command;
    command.name = map.value("Name").toString().toStdString();
    command.description = map.value("Description").toString().toStdString();
    command.handler = map.value("Handler").toString().toStdString();
    return command;
}

uint8_t DeviceInfoJsonParser::parseByte(const QString& text, bool& ok)
{
    ok = false;
    if ((text.size() != 3 && text.size() != 4) || !text.startsWith("0x"))
        return 0;
    // Strict hex digits only: Qt's own conversion would also take signs and blanks.
    uint value = 0;
    for (const QChar c : text.mid(2)) {
        const int digit = QString(c).toInt(&ok, 16);
        if (!ok || !std::isxdigit(static_cast<unsigned char>(c.toLatin1()))) {
            ok = false;
            return 0;
        }
        value = value * 16 + static_cast<uint>(digit);
    }
    ok = true;
    return static_cast<uint8_t>(value);
}

std::vector<uint8_t> DeviceInfoJsonParser::parseByteList(const QStringList& list, bool& ok)
{
    ok = true;
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(list.size()));
    for (const QString& text : list) {
        bytes.push_back(parseByte(text, ok));
        if (!ok)
            return {};
    }
    return bytes;
}

ECommandDataType DeviceInfoJsonParser::parseCommandDataType(const QString& text, bool& ok)
{
    static const std::pair<const char*, ECommandDataType> names[] = {
        {"INT", ECommandDataType::INT},   {"DOUBLE", ECommandDataType::DOUBLE},
        {"DATE", ECommandDataType::DATE}, {"TEXT", ECommandDataType::TEXT},
        {"BINARY", ECommandDataType::BINARY}};
    for (const auto& [name, type] : names) {
        if (equalsInsensitive(text, name)) {
            ok = true;
            return type;
        }
    }
    ok = false;
    return ECommandDataType::BINARY;
}

} // namespace Tavrix::DevicesInfo
