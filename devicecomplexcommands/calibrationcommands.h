#pragma once

#include "devicecomplexcommands/calibrationtypes.h"
#include "devicecomplexcommands/operationexchange.h"
#include "devicecomplexcommands/orvimframechain.h"
#include "devicesinfo/devicechanneltypeinfo.h"
#include "usb/complexcommand.h"
#include "usb/lsbchannelinfo.h"

#include <unordered_map>

namespace Tavrix::Usb {

class ReadEcgLsbCommand : public ComplexCommand
{
    Q_OBJECT
public:
    using ComplexCommand::ComplexCommand;
signals:
    void answerIsReady(Usb::ComplexCommand* command, std::vector<Usb::SignalLsbInfo> lsbList, std::shared_ptr<Usb::DeviceCommandStatus> status);
};

class ReadExternAccLsbCommand : public ComplexCommand
{
    Q_OBJECT
public:
    using ComplexCommand::ComplexCommand;
signals:
    void answerIsReady(Usb::ComplexCommand* command, std::vector<Usb::CalibrationInfo> calibrationInfo, std::shared_ptr<Usb::DeviceCommandStatus> status);
};

class ReadInnerChannelsLsbCommand : public ComplexCommand
{
    Q_OBJECT
public:
    using ComplexCommand::ComplexCommand;
signals:
    void answerIsReady(Usb::ComplexCommand* command,
                       std::unordered_map<DevicesInfo::DeviceChannelTypeInfo, std::vector<Usb::CalibrationInfo>> calibrationInfo,
                       std::shared_ptr<Usb::DeviceCommandStatus> status);
};

} // namespace Tavrix::Usb

namespace Tavrix::DeviceComplexCommands {

using CalibrationGroups = std::vector<std::shared_ptr<ChannelGroupCalibrationInfo>>;

// Reads one calibration point (0x21 inner, 0x22 external accelerometer).
// The answer is 17 bytes: the point's values in bytes 5-13, then the frame's
// three closing bytes. A shorter answer lacks some of them and is
// WRONG_FRAME_FORMAT.
class ReadCalibrationPointCommand : public Usb::ComplexCommand
{
    Q_OBJECT

public:
    static constexpr std::size_t minAnswerSize = 17;

    ReadCalibrationPointCommand(uint32_t uid, uint8_t pointIndex, uint8_t channelType, uint8_t channelNumber,
                                bool external, Usb::ByteCommandQueue* queue);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;
    std::vector<uint8_t> requestFrame() const;

signals:
    void answerIsReady(Usb::ComplexCommand* command, Usb::CalibrationPoint calibrationPoint, std::shared_ptr<Usb::DeviceCommandStatus> status);

private:
    void handleAnswer(std::shared_ptr<Usb::ByteCommand> command, const std::vector<uint8_t>& answer, int32_t status);

    uint8_t m_pointIndex;
    uint8_t m_channelType;
    uint8_t m_channelNumber;
    bool m_external;
    Usb::ByteCommandQueue* m_queue;
};

// Reads a list of points one after another; the first failure ends it.
class CalibrationPointSequence : public QObject
{
    Q_OBJECT

public:
    CalibrationPointSequence(Usb::ByteCommandQueue* queue, std::vector<Usb::CalibrationPoint> plan, bool external);
    // Reads the first point; false (and the status) when it cannot start.
    Exchange::StatusPtr start();

signals:
    void finished(std::vector<Usb::CalibrationPoint> points, std::shared_ptr<Usb::DeviceCommandStatus> status);

private:
    Exchange::StatusPtr readNext();
    void handlePoint(Usb::ComplexCommand* command, Usb::CalibrationPoint point, std::shared_ptr<Usb::DeviceCommandStatus> status);

    Usb::ByteCommandQueue* m_queue;
    std::vector<Usb::CalibrationPoint> m_points;
    bool m_external;
    std::size_t m_next = 0;
    Exchange::RunningCommands m_running;
};

// Every wanted inner channel group of the calibration memory with its points.
class ReadInnerChannelsCalibrationCommand : public Usb::ComplexCommand
{
    Q_OBJECT

public:
    ReadInnerChannelsCalibrationCommand(uint32_t uid, Usb::ByteCommandQueue* queue);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

    // The most points one table may ask to read. Shipped recorders have up to
    // 30; a table asking for more is a fault, refused before anything is
    // built, as a few bytes could otherwise ask for millions of reads.
    static constexpr std::size_t maxPoints = 1024;

    // The wanted groups of a "GetCalibrationInfo" answer into `groups`,
    // points not read yet; false (and `groups` empty) when they would hold
    // more than maxPoints points.
    static bool parseGroups(const std::vector<uint8_t>& answer, CalibrationGroups& groups);

signals:
    void answerIsReady(Usb::ComplexCommand* command, CalibrationGroups calibrationInfo, std::shared_ptr<Usb::DeviceCommandStatus> status);

private:
    void handleInfo(std::shared_ptr<Usb::ByteCommand> command, const std::vector<uint8_t>& answer, int32_t status);
    void handlePoints(std::vector<Usb::CalibrationPoint> points, std::shared_ptr<Usb::DeviceCommandStatus> status);

    Usb::ByteCommandQueue* m_queue;
    CalibrationGroups m_calibrationInfo;
    std::unique_ptr<CalibrationPointSequence> m_reads;
};

// Plan of the external accelerometer: channel type 1, channels 0–2, points 0–1.
std::vector<Usb::CalibrationPoint> externAccPointPlan();

class ReadExternAccCalibrationCommand : public Usb::ComplexCommand
{
    Q_OBJECT

public:
    ReadExternAccCalibrationCommand(uint32_t uid, Usb::ByteCommandQueue* queue,
                                    const std::string& name = "ReadExternAccCalibration");
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

signals:
    void answerIsReady(Usb::ComplexCommand* command, std::vector<Usb::CalibrationPoint> calibrationPoints, std::shared_ptr<Usb::DeviceCommandStatus> status);

private:
    CalibrationPointSequence m_reads;
};

// The same read under the name of the web command that answers the points
// themselves; the descriptions bind both names.
class ReadExternAccCalibrationPointsCommand : public ReadExternAccCalibrationCommand
{
public:
    ReadExternAccCalibrationPointsCommand(uint32_t uid, Usb::ByteCommandQueue* queue)
        : ReadExternAccCalibrationCommand(uid, queue, "ReadExternAccCalibrationPoints")
    {
    }
};

class WriteExternAccDefaultCalibrationCommand : public Usb::ComplexCommand
{
    Q_OBJECT
public:
    using Usb::ComplexCommand::ComplexCommand;
signals:
    void answerIsReady(Usb::ComplexCommand* command, std::shared_ptr<Usb::DeviceCommandStatus> status);
};

struct WriteCalibrationPointCommandCreator
{
    static std::shared_ptr<Usb::ByteCommand> create(Usb::ByteCommandQueue* queue, bool external, uint8_t channelType,
                                                    uint8_t channelNumber, uint8_t pointIndex, uint32_t adcValue,
                                                    int32_t physicalValue, int8_t range);
    static std::vector<uint8_t> frame(bool external, uint8_t channelType, uint8_t channelNumber, uint8_t pointIndex,
                                      uint32_t adcValue, int32_t physicalValue, int8_t range);
};

// Clear, the six default points (ADC 0 → 0, ADC 1000 → 1 per channel), save.
class OrvimWriteExternAccDefaultCalibrationCommand : public FrameChainCommand<WriteExternAccDefaultCalibrationCommand>
{
public:
    static constexpr int clearAndSaveTimeoutMs = 5000;
    OrvimWriteExternAccDefaultCalibrationCommand(uint32_t uid, Usb::ByteCommandQueue* queue);
};

// The LSB operations of the signal side: scale factors from the calibration reads.
class OrvimReadEcgLsbCommand : public Usb::ReadEcgLsbCommand
{
    Q_OBJECT
public:
    OrvimReadEcgLsbCommand(uint32_t uid, Usb::ByteCommandQueue* queue, int channelCount);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    void handleGroups(Usb::ComplexCommand* command, CalibrationGroups groups, std::shared_ptr<Usb::DeviceCommandStatus> status);
    Usb::ByteCommandQueue* m_queue;
    int m_channelCount;
    Exchange::RunningCommands m_running;
};

class OrvimReadInnerChannelsLsbCommand : public Usb::ReadInnerChannelsLsbCommand
{
    Q_OBJECT
public:
    using LsbTable = std::unordered_map<DevicesInfo::DeviceChannelTypeInfo, Usb::LsbChannelInfo>;
    OrvimReadInnerChannelsLsbCommand(uint32_t uid, LsbTable table, Usb::ByteCommandQueue* queue);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    void handleGroups(Usb::ComplexCommand* command, CalibrationGroups groups, std::shared_ptr<Usb::DeviceCommandStatus> status);
    LsbTable m_table;
    Usb::ByteCommandQueue* m_queue;
    Exchange::RunningCommands m_running;
};

class OrvimReadExternAccLsbCommand : public Usb::ReadExternAccLsbCommand
{
    Q_OBJECT
public:
    OrvimReadExternAccLsbCommand(uint32_t uid, Usb::ByteCommandQueue* queue);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    void handlePoints(Usb::ComplexCommand* command, std::vector<Usb::CalibrationPoint> points, std::shared_ptr<Usb::DeviceCommandStatus> status);
    Usb::ByteCommandQueue* m_queue;
    Exchange::RunningCommands m_running;
};

// The resting cardiograph has a fixed ECG scale and nothing to read.
class CardiographReadEcgLsbCommand : public Usb::ReadEcgLsbCommand
{
    Q_OBJECT
public:
    static constexpr float ecgScale = 0.037252903f;
    CardiographReadEcgLsbCommand(uint32_t uid, int channelCount);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    int m_channelCount;
};

class CardiographReadExternAccLsbCommand : public Usb::ReadExternAccLsbCommand
{
    Q_OBJECT
public:
    explicit CardiographReadExternAccLsbCommand(uint32_t uid);
    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;
};

} // namespace Tavrix::DeviceComplexCommands
