#include "devicecomplexcommands/calibrationcommands.h"

#include "common/bytereader.h"
#include "common/bytewriter.h"
#include "devicecomplexcommands/orvimlsbcreators.h"
#include "devicecomplexcommands/orvimrequestcodes.h"
#include "usb/bytecommandqueue.h"

#include <QTimer>
#include <iomanip>
#include <iostream>

namespace Tavrix::DeviceComplexCommands {

using namespace Exchange;
using Common::ByteReader;
using Common::ByteWriter;
using Usb::CalibrationPoint;
using Usb::RecorderFrame;

namespace {
constexpr uint8_t externAccType = 1;
constexpr uint8_t externAccChannels = 3;
constexpr uint8_t pointsPerChannel = 2;
constexpr std::size_t infoMinSize = 9;
constexpr std::size_t infoRecordSize = 8;
constexpr std::size_t infoFirstRecord = 5;
const std::vector<uint8_t> wantedTypes{0, 3, 1, 7, 8, 6};

void printHex(const std::vector<uint8_t>& bytes)
{
    std::cout << " messageSize = " << bytes.size() << " message=";
    for (const uint8_t byte : bytes)
        std::cout << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(byte);
    std::cout << std::dec << std::setfill(' ') << std::endl;
}
} // namespace

ReadCalibrationPointCommand::ReadCalibrationPointCommand(uint32_t uid, uint8_t pointIndex, uint8_t channelType,
                                                         uint8_t channelNumber, bool external,
                                                         Usb::ByteCommandQueue* queue)
    : Usb::ComplexCommand("ReadCalibrationPoint", uid)
    , m_pointIndex(pointIndex)
    , m_channelType(channelType)
    , m_channelNumber(channelNumber)
    , m_external(external)
    , m_queue(queue)
{
}

std::vector<uint8_t> ReadCalibrationPointCommand::requestFrame() const
{
    return RecorderFrame::request(m_external ? RequestCode::externalCalibration : RequestCode::innerCalibration, {CalibrationItem::readPoint, m_channelType, m_channelNumber, m_pointIndex});
}

std::shared_ptr<Usb::DeviceCommandStatus> ReadCalibrationPointCommand::execute()
{
    if (!m_queue)
        return failure(Usb::DeviceCommand::DEVICE_DISCONNECTED);
    return Usb::sendRequest(this, m_queue, "ReadCalibrationPoint", requestFrame(), &ReadCalibrationPointCommand::handleAnswer);
}

void ReadCalibrationPointCommand::handleAnswer(std::shared_ptr<Usb::ByteCommand>,
                                               const std::vector<uint8_t>& answer,
                                               int32_t status)
{
    CalibrationPoint point;
    point.PointIndex = m_pointIndex;
    point.ChannelType = m_channelType;
    point.ChannelNumber = m_channelNumber;
    if (auto failed = checkAnswer(answer, status, minAnswerSize)) {
        emit answerIsReady(this, point, failed);
        return;
    }
    // Valid flag, ADC value, physical value, range, after the channel's key.
    ByteReader fields = RecorderFrame::fields(answer, 5);
    uint8_t valid = 0;
    int32_t physical = 0;
    uint8_t range = 0;
    if (!fields.readU8(valid) || !fields.readU32(point.AdcValue) || !fields.readS24(physical) || !fields.readU8(range)) {
        emit answerIsReady(this, point, failure(Usb::DeviceCommand::WRONG_FRAME_FORMAT, answer));
        return;
    }
    point.IsValid = valid != 0;
    point.PhysicalValue = physical;
    point.Range = static_cast<int8_t>(range);
    emit answerIsReady(this, point, ok());
}

CalibrationPointSequence::CalibrationPointSequence(Usb::ByteCommandQueue* queue,
                                                   std::vector<CalibrationPoint> plan,
                                                   bool external)
    : m_queue(queue)
    , m_points(std::move(plan))
    , m_external(external)
{
}

StatusPtr CalibrationPointSequence::start()
{
    m_next = 0;
    if (m_points.empty()) {
        QTimer::singleShot(0, this, [this]() { emit finished(m_points, ok()); });
        return ok();
    }
    return readNext();
}

StatusPtr CalibrationPointSequence::readNext()
{
    const CalibrationPoint& key = m_points[m_next];
    auto command = std::make_shared<ReadCalibrationPointCommand>(m_queue ? m_queue->generateUid() : 0, key.PointIndex,
                                                                 key.ChannelType, key.ChannelNumber, m_external, m_queue);
    return Usb::runOperation(command, m_running, this, &CalibrationPointSequence::handlePoint);
}

void CalibrationPointSequence::handlePoint(Usb::ComplexCommand* command,
                                           CalibrationPoint point,
                                           std::shared_ptr<Usb::DeviceCommandStatus> status)
{
    m_running.erase(command);
    if (!isOk(status)) {
        emit finished({}, status);
        return;
    }
    m_points[m_next] = point;
    if (++m_next == m_points.size()) {
        emit finished(m_points, ok());
        return;
    }
    StatusPtr started = readNext();
    if (!isOk(started))
        emit finished({}, started);
}

ReadInnerChannelsCalibrationCommand::ReadInnerChannelsCalibrationCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
    : Usb::ComplexCommand("ReadInnerChannelsCalibration", uid)
    , m_queue(queue)
{
}

std::shared_ptr<Usb::DeviceCommandStatus> ReadInnerChannelsCalibrationCommand::execute()
{
    if (!m_queue)
        return failure(Usb::DeviceCommand::DEVICE_DISCONNECTED);
    return Usb::sendRequest(this, m_queue, "GetCalibrationInfo", RecorderFrame::request(RequestCode::calibrationInfo),
                            &ReadInnerChannelsCalibrationCommand::handleInfo);
}

bool ReadInnerChannelsCalibrationCommand::parseGroups(const std::vector<uint8_t>& answer, CalibrationGroups& groups)
{
    const std::size_t length = answer.size();
    std::cout << " answer.size()=" << length << " _offset=" << infoFirstRecord << " _length=" << infoRecordSize
              << std::endl;
    groups.clear();
    std::size_t total = 0;
    for (std::size_t offset = infoFirstRecord; offset + infoRecordSize <= length && offset < length - 8;
         offset += infoRecordSize) {
        // Type, channels, points per channel, bits, sampling period.
        ByteReader record = RecorderFrame::fields(answer, offset);
        uint8_t type = 0;
        uint8_t channels = 0;
        uint8_t points = 0;
        uint8_t bits = 0;
        uint32_t period = 0;
        if (!record.readU8(type) || !record.readU8(channels) || !record.readU8(points) || !record.readU8(bits)
            || !record.readU32(period))
            break;
        if (std::find(wantedTypes.begin(), wantedTypes.end(), type) == wantedTypes.end())
            continue;
        total += std::size_t(channels) * points;
        if (total > maxPoints) {
            groups.clear();
            return false;
        }
        auto group = std::make_shared<ChannelGroupCalibrationInfo>();
        group->ChannelType = type;
        group->ChannelsCount = channels;
        group->CalibrationPointCount = points;
        group->BitCounts = bits;
        group->DiscretPeriod = period;
        group->points.reserve(std::size_t(channels) * points);
        for (uint32_t c = 0; c < group->ChannelsCount; ++c) {
            for (uint32_t p = 0; p < group->CalibrationPointCount; ++p) {
                CalibrationPoint point;
                point.ChannelType = type;
                point.ChannelNumber = static_cast<uint8_t>(c);
                point.PointIndex = static_cast<uint8_t>(p);
                group->points.push_back(point);
            }
        }
        groups.push_back(group);
    }
    return true;
}

void ReadInnerChannelsCalibrationCommand::handleInfo(std::shared_ptr<Usb::ByteCommand>,
                                                     const std::vector<uint8_t>& answer,
                                                     int32_t status)
{
    StatusPtr failed = checkAnswer(answer, status, infoMinSize);
    // The first data byte is the recorder's result: 0 when it has the table.
    uint8_t result = 0;
    if (!failed && (!RecorderFrame::fields(answer).readU8(result) || result != 0))
        failed = failure(Usb::DeviceCommand::WRONG_FRAME_FORMAT, answer);
    if (failed) {
        emit answerIsReady(this, {}, failed);
        return;
    }
    printHex(answer);
    if (!parseGroups(answer, m_calibrationInfo)) {
        emit answerIsReady(this, {}, failure(Usb::DeviceCommand::WRONG_FRAME_FORMAT, answer));
        return;
    }
    std::vector<CalibrationPoint> plan;
    for (const auto& group : m_calibrationInfo)
        plan.insert(plan.end(), group->points.begin(), group->points.end());
    m_reads = std::make_unique<CalibrationPointSequence>(m_queue, std::move(plan), false);
    connect(m_reads.get(), &CalibrationPointSequence::finished, this, &ReadInnerChannelsCalibrationCommand::handlePoints);
    StatusPtr started = m_reads->start();
    if (!isOk(started))
        emit answerIsReady(this, {}, started);
}

void ReadInnerChannelsCalibrationCommand::handlePoints(std::vector<CalibrationPoint> points,
                                                       std::shared_ptr<Usb::DeviceCommandStatus> status)
{
    if (!isOk(status)) {
        emit answerIsReady(this, {}, status);
        return;
    }
    std::size_t next = 0;
    for (auto& group : m_calibrationInfo)
        for (auto& point : group->points)
            point = points[next++];
    emit answerIsReady(this, m_calibrationInfo, ok());
}

std::vector<CalibrationPoint> externAccPointPlan()
{
    std::vector<CalibrationPoint> plan;
    for (uint8_t channel = 0; channel < externAccChannels; ++channel) {
        for (uint8_t point = 0; point < pointsPerChannel; ++point) {
            CalibrationPoint key;
            key.ChannelType = externAccType;
            key.ChannelNumber = channel;
            key.PointIndex = point;
            plan.push_back(key);
        }
    }
    return plan;
}

ReadExternAccCalibrationCommand::ReadExternAccCalibrationCommand(uint32_t uid, Usb::ByteCommandQueue* queue,
                                                                 const std::string& name)
    : Usb::ComplexCommand(name, uid)
    , m_reads(queue, externAccPointPlan(), true)
{
    connect(&m_reads, &CalibrationPointSequence::finished, this,
            [this](std::vector<CalibrationPoint> points, std::shared_ptr<Usb::DeviceCommandStatus> status) {
                emit answerIsReady(this, std::move(points), std::move(status));
            });
}

std::shared_ptr<Usb::DeviceCommandStatus> ReadExternAccCalibrationCommand::execute()
{
    return m_reads.start();
}

std::vector<uint8_t> WriteCalibrationPointCommandCreator::frame(bool external, uint8_t channelType,
                                                                uint8_t channelNumber, uint8_t pointIndex,
                                                                uint32_t adcValue, int32_t physicalValue, int8_t range)
{
    ByteWriter data;
    data.u8(CalibrationItem::writePoint).u8(channelType).u8(channelNumber).u8(pointIndex).u32(adcValue).s24(physicalValue);
    data.u8(static_cast<uint8_t>(range));
    return RecorderFrame::request(external ? RequestCode::externalCalibration : RequestCode::innerCalibration, data.data());
}

std::shared_ptr<Usb::ByteCommand> WriteCalibrationPointCommandCreator::create(Usb::ByteCommandQueue* queue,
                                                                             bool external, uint8_t channelType,
                                                                             uint8_t channelNumber, uint8_t pointIndex,
                                                                             uint32_t adcValue, int32_t physicalValue,
                                                                             int8_t range)
{
    return std::make_shared<Usb::ByteCommand>(
        "WriteCalibrationPoint", queue->generateUid(),
        frame(external, channelType, channelNumber, pointIndex, adcValue, physicalValue, range), answerTimeoutMs);
}

namespace {
std::vector<FrameStep> defaultExternAccSteps()
{
    std::vector<FrameStep> steps{{"ClearAllCalibrations", RecorderFrame::request(RequestCode::externalCalibration, {CalibrationItem::clearAll}),
                                  OrvimWriteExternAccDefaultCalibrationCommand::clearAndSaveTimeoutMs}};
    for (const CalibrationPoint& key : externAccPointPlan()) {
        const bool second = key.PointIndex == 1;
        steps.push_back({"WriteCalibrationPoint",
                         WriteCalibrationPointCommandCreator::frame(true, key.ChannelType, key.ChannelNumber,
                                                                    key.PointIndex, second ? 1000 : 0, second ? 1 : 0, 0),
                         answerTimeoutMs});
    }
    steps.push_back({"SaveCalibrationPoints", RecorderFrame::request(RequestCode::externalCalibration, {CalibrationItem::save}),
                     OrvimWriteExternAccDefaultCalibrationCommand::clearAndSaveTimeoutMs});
    return steps;
}
} // namespace

OrvimWriteExternAccDefaultCalibrationCommand::OrvimWriteExternAccDefaultCalibrationCommand(uint32_t uid,
                                                                                           Usb::ByteCommandQueue* queue)
    : FrameChainCommand<WriteExternAccDefaultCalibrationCommand>(" WriteExternAccDefaultCalibration", uid, queue,
                                                                 defaultExternAccSteps())
{
}

OrvimReadEcgLsbCommand::OrvimReadEcgLsbCommand(uint32_t uid, Usb::ByteCommandQueue* queue, int channelCount)
    : Usb::ReadEcgLsbCommand("ReadEcgLsb", uid)
    , m_queue(queue)
    , m_channelCount(channelCount)
{
}

namespace {
// The calibration read run directly: these operations belong to the same
// recorder family as the read itself.
template<typename Receiver, typename Handler>
StatusPtr startInnerRead(Usb::ByteCommandQueue* queue, RunningCommands& running, Receiver* receiver, Handler handler)
{
    if (!queue)
        return failure(Usb::DeviceCommand::DEVICE_DISCONNECTED);
    return Usb::runOperation(std::make_shared<ReadInnerChannelsCalibrationCommand>(queue->generateUid(), queue), running,
                             receiver, handler);
}
} // namespace

std::shared_ptr<Usb::DeviceCommandStatus> OrvimReadEcgLsbCommand::execute()
{
    return startInnerRead(m_queue, m_running, this, &OrvimReadEcgLsbCommand::handleGroups);
}

void OrvimReadEcgLsbCommand::handleGroups(Usb::ComplexCommand* command, CalibrationGroups groups,
                                          std::shared_ptr<Usb::DeviceCommandStatus> status)
{
    m_running.erase(command);
    if (!isOk(status)) {
        emit answerIsReady(this, {}, status);
        return;
    }
    std::vector<CalibrationPoint> points;
    for (const auto& group : groups)
        if (group->ChannelType == 0)
            points = group->points;
    OrvimEcgLsbCreator creator;
    std::vector<Usb::SignalLsbInfo> lsbList;
    for (int channel = 0; channel < m_channelCount; ++channel)
        lsbList.push_back({creator.createLsb(static_cast<uint8_t>(channel), points)});
    emit answerIsReady(this, lsbList, ok());
}

OrvimReadInnerChannelsLsbCommand::OrvimReadInnerChannelsLsbCommand(uint32_t uid, LsbTable table,
                                                                   Usb::ByteCommandQueue* queue)
    : Usb::ReadInnerChannelsLsbCommand("ReadInnerChannelsLsb", uid)
    , m_table(std::move(table))
    , m_queue(queue)
{
}

std::shared_ptr<Usb::DeviceCommandStatus> OrvimReadInnerChannelsLsbCommand::execute()
{
    return startInnerRead(m_queue, m_running, this, &OrvimReadInnerChannelsLsbCommand::handleGroups);
}

void OrvimReadInnerChannelsLsbCommand::handleGroups(Usb::ComplexCommand* command, CalibrationGroups groups,
                                                    std::shared_ptr<Usb::DeviceCommandStatus> status)
{
    m_running.erase(command);
    std::unordered_map<DevicesInfo::DeviceChannelTypeInfo, std::vector<Usb::CalibrationInfo>> result;
    if (!isOk(status)) {
        emit answerIsReady(this, result, status);
        return;
    }
    for (const auto& [key, info] : m_table) {
        if (!info.calibrationInfoCreator || key.source != DevicesInfo::EChannelSource::Device)
            continue;
        for (const auto& group : groups) {
            if (group->ChannelType != info.code)
                continue;
            std::vector<Usb::CalibrationInfo> channels;
            for (uint64_t c = 0; c < info.signalCount; ++c)
                channels.push_back(info.calibrationInfoCreator->createCalibrationInfo(static_cast<uint8_t>(c), group->points));
            result[key] = channels;
        }
    }
    emit answerIsReady(this, result, ok());
}

OrvimReadExternAccLsbCommand::OrvimReadExternAccLsbCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
    : Usb::ReadExternAccLsbCommand("ReadExternAccLsb", uid)
    , m_queue(queue)
{
}

std::shared_ptr<Usb::DeviceCommandStatus> OrvimReadExternAccLsbCommand::execute()
{
    if (!m_queue)
        return failure(Usb::DeviceCommand::DEVICE_DISCONNECTED);
    return Usb::runOperation(std::make_shared<ReadExternAccCalibrationCommand>(m_queue->generateUid(), m_queue), m_running,
                             this, &OrvimReadExternAccLsbCommand::handlePoints);
}

void OrvimReadExternAccLsbCommand::handlePoints(Usb::ComplexCommand* command, std::vector<CalibrationPoint> points,
                                                std::shared_ptr<Usb::DeviceCommandStatus> status)
{
    m_running.erase(command);
    if (!isOk(status)) {
        emit answerIsReady(this, {}, status);
        return;
    }
    OrvimExternAccCalibrationInfoCreator creator;
    std::vector<Usb::CalibrationInfo> result;
    for (uint8_t channel = 0; channel < externAccChannels; ++channel)
        result.push_back(creator.createCalibrationInfo(channel, points));
    emit answerIsReady(this, result, ok());
}

CardiographReadEcgLsbCommand::CardiographReadEcgLsbCommand(uint32_t uid, int channelCount)
    : Usb::ReadEcgLsbCommand("ReadEcgLsb", uid)
    , m_channelCount(channelCount)
{
}

std::shared_ptr<Usb::DeviceCommandStatus> CardiographReadEcgLsbCommand::execute()
{
    // Answered from the event loop, so the caller has finished its own start first.
    QTimer::singleShot(0, this, [this]() {
        emit answerIsReady(this, std::vector<Usb::SignalLsbInfo>(static_cast<std::size_t>(m_channelCount), {ecgScale}), ok());
    });
    return ok();
}

CardiographReadExternAccLsbCommand::CardiographReadExternAccLsbCommand(uint32_t uid)
    : Usb::ReadExternAccLsbCommand("ReadExternAccLsb", uid)
{
}

std::shared_ptr<Usb::DeviceCommandStatus> CardiographReadExternAccLsbCommand::execute()
{
    // The cable accelerometer's default scale: 1 mg per count.
    QTimer::singleShot(0, this, [this]() {
        emit answerIsReady(this, std::vector<Usb::CalibrationInfo>(externAccChannels, {1000, 0}), ok());
    });
    return ok();
}

} // namespace Tavrix::DeviceComplexCommands
