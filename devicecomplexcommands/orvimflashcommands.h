#pragma once

#include "devicecomplexcommands/getaddresscommand.h"
#include "devicecomplexcommands/getwrittenflashdatacountcommand.h"
#include "devicecomplexcommands/startreceiveflashdatacommand.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace Tavrix::Usb {
class ByteCommand;
class UsbDataListener;
class UsbDeviceManager;
}

namespace Tavrix::DeviceComplexCommands {

// Reads one flash address bound (minimum, maximum or written maximum): the
// 64-bit address at offsets 4 to 11 of an answer of at least 15 bytes.
class OrvimGetAddressCommand : public GetAddressCommand
{
    Q_OBJECT

public:
    OrvimGetAddressCommand(uint32_t uid,
                           const std::string& operationName,
                           const std::string& simpleCommandName,
                           Usb::UsbDeviceManager* manager);

    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;
    const std::string& simpleCommandName() const { return m_simpleCommandName; }

private:
    void handleAnswer(std::shared_ptr<Usb::ByteCommand> command, const std::vector<uint8_t>& answer, int32_t status);

    Usb::UsbDeviceManager* m_manager;
    std::string m_simpleCommandName;
};

// The written range of the flash: "GetMinAddress", then
// "GetWrittenMaxAddress", as the connected device binds them. Part of the
// operations below, which hear of the first failure or of both addresses.
class WrittenRangeRead
{
public:
    using Done = std::function<void(std::shared_ptr<Usb::DeviceCommandStatus> status, uint64_t minAddress,
                                    uint64_t writtenMaxAddress)>;

    // `owner` is the operation: the reads' answers die with it.
    WrittenRangeRead(Usb::UsbDeviceManager* manager, QObject* owner);
    // The status of the first read's start; `done` runs once unless that fails.
    std::shared_ptr<Usb::DeviceCommandStatus> start(Done done);

private:
    void handleMinAddress(uint64_t address, std::shared_ptr<Usb::DeviceCommandStatus> status);

    Usb::UsbDeviceManager* m_manager;
    QObject* m_owner;
    std::unordered_map<Usb::ComplexCommand*, std::shared_ptr<Usb::ComplexCommand>> m_running;
    uint64_t m_minAddress = 0;
    Done m_done;
};

// Bytes written to flash: written maximum + 1 − minimum.
class OrvimGetWrittenFlashDataCountCommand : public GetWrittenFlashDataCountCommand
{
    Q_OBJECT

public:
    OrvimGetWrittenFlashDataCountCommand(uint32_t uid, Usb::UsbDeviceManager* manager);

    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

private:
    WrittenRangeRead m_range;
};

// Arms the data listener for the written range and starts the recorder's
// read-out. The listener's finish address is exclusive (one past the last
// byte it hands on), so it gets the written maximum + 1: the read-out then
// delivers exactly the bytes that "GetWrittenFlashDataCount" counts.
class OrvimStartReceiveFlashDataCommand : public StartReceiveFlashDataCommand
{
    Q_OBJECT

public:
    static constexpr uint32_t transmitBlockSize = 10240;

    OrvimStartReceiveFlashDataCommand(uint32_t uid, Usb::UsbDeviceManager* manager, Usb::UsbDataListener* listener);

    std::shared_ptr<Usb::DeviceCommandStatus> execute() override;

    uint64_t startAddress() const { return m_startAddress; }
    uint64_t finishAddress() const { return m_finishAddress; }

    // "StartDataReading" arguments: 0x12, the start address (8 bytes LE), 0x80 0x00.
    static std::vector<uint8_t> startArguments(uint64_t startAddress);

private:
    void handleRange(std::shared_ptr<Usb::DeviceCommandStatus> status, uint64_t minAddress, uint64_t writtenMaxAddress);
    void handleStopAnswer(std::shared_ptr<Usb::ByteCommand> command, const std::vector<uint8_t>& answer, int32_t status);
    void handleStartAnswer(std::shared_ptr<Usb::ByteCommand> command, const std::vector<uint8_t>& answer, int32_t status);
    void finish(std::shared_ptr<Usb::DeviceCommandStatus> status);

    uint32_t m_transmitBlockSize = transmitBlockSize;
    uint64_t m_startAddress = 0;
    uint64_t m_finishAddress = 0;
    Usb::UsbDeviceManager* m_manager;
    Usb::UsbDataListener* m_listener;
    WrittenRangeRead m_range;
};

} // namespace Tavrix::DeviceComplexCommands
