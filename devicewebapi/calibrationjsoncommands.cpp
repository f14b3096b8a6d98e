#include "devicewebapi/calibrationjsoncommands.h"

#include "net/webapi/jsoncommandunit.h"

namespace Tavrix::DeviceWebApi {

using namespace Net::WebApi;
using DevicesInfo::DeviceChannelTypeInfo;
using DevicesInfo::EChannelSource;
using DevicesInfo::EChannelType;

namespace {

std::shared_ptr<JsonCommandDescription> describe(const std::string& name, JsonCommandUnits answer)
{
    return std::make_shared<JsonCommandDescription>(name, std::make_shared<NamelessEmptyJsonCommandUnit>(),
                                                    std::make_shared<NamelessJsonCommandObjectUnit>(std::move(answer)));
}

// {"Name", "Map", "clbK", "clbB"} of `channelCount` channels from the creator.
QJsonObject channelEntry(const std::string& name,
                         uint64_t channelCount,
                         const std::shared_ptr<Usb::ICalibrationInfoCreator>& creator,
                         const std::vector<Usb::CalibrationPoint>& points)
{
    QJsonArray map, clbK, clbB;
    for (uint64_t c = 0; c < channelCount; ++c) {
        const Usb::CalibrationInfo info = creator->createCalibrationInfo(static_cast<uint8_t>(c), points);
        map.append(static_cast<int>(c));
        clbK.append(info.clbK);
        clbB.append(info.clbB);
    }
    QJsonObject entry;
    entry.insert("Name", QString::fromStdString(name));
    entry.insert("Map", map);
    entry.insert("clbK", clbK);
    entry.insert("clbB", clbB);
    return entry;
}

} // namespace

QJsonObject calibrationPointToJson(const Usb::CalibrationPoint& point)
{
    QJsonObject object;
    object.insert("PointIndex", QString::number(point.PointIndex));
    object.insert("ChannelType", QString::number(point.ChannelType));
    object.insert("ChannelNumber", QString::number(point.ChannelNumber));
    object.insert("AdcValue", QString::number(point.AdcValue));
    object.insert("PhysicalValue", QString::number(point.PhysicalValue, 'g', 6));
    object.insert("Range", QString::number(point.Range));
    object.insert("IsValid", point.IsValid ? "true" : "false");
    return object;
}

ReadInnerChannelsCalibrationJsonCommand::ReadInnerChannelsCalibrationJsonCommand(
    std::shared_ptr<JsonCommandDescription> description,
    Usb::UsbDeviceManager* manager,
    std::shared_ptr<Usb::AdcChannelsManager> channels)
    : DeviceComplexJsonCommand(std::move(description), manager)
    , m_channels(std::move(channels))
{
}

std::shared_ptr<JsonCommandDescription> ReadInnerChannelsCalibrationJsonCommand::createCommandDescription()
{
    return describe("ReadInnerChannelsCalibration",
                    {std::make_shared<JsonCommandArrayUnit>(
                        "Channels", 1, std::make_shared<NamelessJsonCommandUnit>(EJsonUnitType::Object))});
}

ReadInnerChannelsCalibrationJsonCommand::JsonCommandStatusPtr
ReadInnerChannelsCalibrationJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    if (!info)
        return badData();
    return startOperation<DeviceComplexCommands::ReadInnerChannelsCalibrationCommand>(
        *info, &ReadInnerChannelsCalibrationJsonCommand::handleAnswer);
}

void ReadInnerChannelsCalibrationJsonCommand::handleAnswer(Usb::ComplexCommand*,
                                                           DeviceComplexCommands::CalibrationGroups groups,
                                                           DeviceStatusPtr status)
{
    QJsonObject answer;
    if (isOk(status) && m_channels) {
        const auto table = m_channels->getSignalsLsbInfo();
        QJsonArray channels;
        for (const auto& group : groups) {
            // The recorder's own channels only: the cable's accelerometer
            // shares the type code but is calibrated separately.
            for (const auto& [key, lsb] : table) {
                if (key.source != EChannelSource::Device || lsb.code != group->ChannelType || !lsb.calibrationInfoCreator)
                    continue;
                channels.append(channelEntry(m_channels->getChannelName(key), lsb.signalCount,
                                             lsb.calibrationInfoCreator, group->points));
            }
        }
        answer.insert("Channels", channels);
    }
    reportAnswer(answer, status);
}

ReadExternAccCalibrationJsonCommand::ReadExternAccCalibrationJsonCommand(
    std::shared_ptr<JsonCommandDescription> description,
    Usb::UsbDeviceManager* manager,
    std::shared_ptr<Usb::AdcChannelsManager> channels)
    : DeviceComplexJsonCommand(std::move(description), manager)
    , m_channels(std::move(channels))
{
}

std::shared_ptr<JsonCommandDescription> ReadExternAccCalibrationJsonCommand::createCommandDescription()
{
    return describe("ReadExternAccCalibration",
                    {std::make_shared<JsonCommandUnit>("Name", EJsonUnitType::String),
                     std::make_shared<JsonCommandUnit>("Map", EJsonUnitType::Array),
                     std::make_shared<JsonCommandUnit>("clbK", EJsonUnitType::Array),
                     std::make_shared<JsonCommandUnit>("clbB", EJsonUnitType::Array)});
}

ReadExternAccCalibrationJsonCommand::JsonCommandStatusPtr
ReadExternAccCalibrationJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    if (!info)
        return badData();
    return startOperation<DeviceComplexCommands::ReadExternAccCalibrationCommand>(
        *info, &ReadExternAccCalibrationJsonCommand::handleAnswer);
}

void ReadExternAccCalibrationJsonCommand::handleAnswer(Usb::ComplexCommand*,
                                                       std::vector<Usb::CalibrationPoint> points,
                                                       DeviceStatusPtr status)
{
    if (!isOk(status)) {
        reportAnswer(QJsonObject(), status);
        return;
    }
    const DeviceChannelTypeInfo key{EChannelType::Acc, EChannelSource::Cable};
    const auto table = m_channels ? m_channels->getSignalsLsbInfo() : decltype(m_channels->getSignalsLsbInfo()){};
    const auto found = table.find(key);
    if (found == table.end() || !found->second.calibrationInfoCreator) {
        reportAnswer(QJsonObject(),
                     std::make_shared<Usb::DeviceCommandStatus>(Usb::DeviceCommand::NOT_EXIST));
        return;
    }
    reportAnswer(channelEntry(m_channels->getChannelName(key), found->second.signalCount,
                              found->second.calibrationInfoCreator, points),
                 status);
}

ReadExternAccCalibrationPointsJsonCommand::ReadExternAccCalibrationPointsJsonCommand(
    std::shared_ptr<JsonCommandDescription> description,
    Usb::UsbDeviceManager* manager)
    : DeviceComplexJsonCommand(std::move(description), manager)
{
}

std::shared_ptr<JsonCommandDescription> ReadExternAccCalibrationPointsJsonCommand::createCommandDescription()
{
    return describe("ReadExternAccCalibrationPoints",
                    {std::make_shared<JsonCommandArrayUnit>(
                        "CalibrationPoints", 6, std::make_shared<NamelessJsonCommandUnit>(EJsonUnitType::Object))});
}

ReadExternAccCalibrationPointsJsonCommand::JsonCommandStatusPtr
ReadExternAccCalibrationPointsJsonCommand::execute(std::shared_ptr<IJsonCommandInfo> info)
{
    if (!info)
        return badData();
    return startOperation<DeviceComplexCommands::ReadExternAccCalibrationPointsCommand>(
        *info, &ReadExternAccCalibrationPointsJsonCommand::handleAnswer);
}

void ReadExternAccCalibrationPointsJsonCommand::handleAnswer(Usb::ComplexCommand*,
                                                             std::vector<Usb::CalibrationPoint> points,
                                                             DeviceStatusPtr status)
{
    QJsonObject answer;
    if (isOk(status)) {
        QJsonArray list;
        for (const auto& point : points)
            list.append(calibrationPointToJson(point));
        answer.insert("CalibrationPoints", list);
    }
    reportAnswer(answer, status);
}

std::shared_ptr<JsonCommandDescription> WriteExternAccDefaultCalibrationJsonCommand::createCommandDescription()
{
    return std::make_shared<JsonCommandDescription>("WriteExternAccDefaultCalibration",
                                                    std::make_shared<NamelessEmptyJsonCommandUnit>(),
                                                    std::make_shared<NamelessEmptyJsonCommandUnit>());
}

} // namespace Tavrix::DeviceWebApi
