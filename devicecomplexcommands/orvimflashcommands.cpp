#include "devicecomplexcommands/orvimflashcommands.h"

#include "common/bytewriter.h"
#include "devicecomplexcommands/operationexchange.h"
#include "devicecomplexcommands/orvimrequestcodes.h"
#include "usb/recorderframe.h"
#include "usb/usbdatalistener.h"
#include "usb/usbdevicemanager.h"

#include <iostream>

namespace Tavrix::DeviceComplexCommands {

using namespace Exchange;

OrvimGetAddressCommand::OrvimGetAddressCommand(uint32_t uid,
                                               const std::string& operationName,
                                               const std::string& simpleCommandName,
                                               Usb::UsbDeviceManager* manager)
    : GetAddressCommand(operationName, uid)
    , m_manager(manager)
    , m_simpleCommandName(simpleCommandName)
{
}

std::shared_ptr<Usb::DeviceCommandStatus> OrvimGetAddressCommand::execute()
{
    return Usb::sendDescribedRequest(this, m_manager, m_simpleCommandName, {}, &OrvimGetAddressCommand::handleAnswer);
}

void OrvimGetAddressCommand::handleAnswer(std::shared_ptr<Usb::ByteCommand>,
                                          const std::vector<uint8_t>& answer,
                                          int32_t status)
{
    if (auto failed = checkAnswer(answer, status, AnswerSize::addressLeast)) {
        emit answerIsReady(this, 0, failed);
        return;
    }
    uint64_t address = 0;
    if (!Usb::RecorderFrame::fields(answer).readUnsigned(8, address)) {
        emit answerIsReady(this, 0, failure(Usb::DeviceCommand::WRONG_FRAME_FORMAT, answer));
        return;
    }
    emit answerIsReady(this, address, ok());
}

WrittenRangeRead::WrittenRangeRead(Usb::UsbDeviceManager* manager, QObject* owner)
    : m_manager(manager)
    , m_owner(owner)
{
}

std::shared_ptr<Usb::DeviceCommandStatus> WrittenRangeRead::start(Done done)
{
    m_done = std::move(done);
    return Usb::runNamedOperation<GetAddressCommand>(
        m_manager, "GetMinAddress", m_running, m_owner,
        [this](Usb::ComplexCommand*, uint64_t address, std::shared_ptr<Usb::DeviceCommandStatus> status) {
            handleMinAddress(address, std::move(status));
        });
}

void WrittenRangeRead::handleMinAddress(uint64_t address, std::shared_ptr<Usb::DeviceCommandStatus> status)
{
    if (!isOk(status)) {
        m_done(status, 0, 0);
        return;
    }
    m_minAddress = address;
    auto started = Usb::runNamedOperation<GetAddressCommand>(
        m_manager, "GetWrittenMaxAddress", m_running, m_owner,
        [this](Usb::ComplexCommand*, uint64_t writtenMax, std::shared_ptr<Usb::DeviceCommandStatus> status) {
            m_done(std::move(status), m_minAddress, writtenMax);
        });
    if (!isOk(started))
        m_done(started, 0, 0);
}

OrvimGetWrittenFlashDataCountCommand::OrvimGetWrittenFlashDataCountCommand(uint32_t uid, Usb::UsbDeviceManager* manager)
    : GetWrittenFlashDataCountCommand("GetWrittenFlashDataCount", uid)
    , m_range(manager, this)
{
}

std::shared_ptr<Usb::DeviceCommandStatus> OrvimGetWrittenFlashDataCountCommand::execute()
{
    return m_range.start([this](std::shared_ptr<Usb::DeviceCommandStatus> status, uint64_t minAddress,
                                uint64_t writtenMaxAddress) {
        if (!isOk(status)) {
            emit answerIsReady(this, 0, status);
            return;
        }
        // A written maximum below the minimum is a recorder fault; nothing is counted.
        const uint64_t count = writtenMaxAddress + 1 > minAddress ? writtenMaxAddress + 1 - minAddress : 0;
        emit answerIsReady(this, count, ok());
    });
}

OrvimStartReceiveFlashDataCommand::OrvimStartReceiveFlashDataCommand(uint32_t uid,
                                                                     Usb::UsbDeviceManager* manager,
                                                                     Usb::UsbDataListener* listener)
    : StartReceiveFlashDataCommand("StartReceiveFlashData", uid)
    , m_manager(manager)
    , m_listener(listener)
    , m_range(manager, this)
{
}

std::vector<uint8_t> OrvimStartReceiveFlashDataCommand::startArguments(uint64_t startAddress)
{
    Common::ByteWriter arguments;
    arguments.u8(0x12).unsignedLe(startAddress, 8).u8(0x80).u8(0x00);
    return arguments.take();
}

std::shared_ptr<Usb::DeviceCommandStatus> OrvimStartReceiveFlashDataCommand::execute()
{
    if (!m_listener)
        return failure(Usb::DeviceCommand::NOT_EXIST);
    return m_range.start([this](std::shared_ptr<Usb::DeviceCommandStatus> status, uint64_t minAddress,
                                uint64_t writtenMaxAddress) { handleRange(std::move(status), minAddress, writtenMaxAddress); });
}

void OrvimStartReceiveFlashDataCommand::finish(std::shared_ptr<Usb::DeviceCommandStatus> status)
{
    emit answerIsReady(this, status);
}

void OrvimStartReceiveFlashDataCommand::handleRange(std::shared_ptr<Usb::DeviceCommandStatus> status,
                                                    uint64_t minAddress,
                                                    uint64_t address)
{
    if (!isOk(status)) {
        finish(status);
        return;
    }
    m_startAddress = minAddress;
    // The recorder reports the written maximum equal to the minimum when
    // nothing is written, so that case reads nothing.
    if (address <= m_startAddress) {
        m_finishAddress = m_startAddress;
        emit m_listener->signalAnswer({}, 1);
        finish(ok());
        return;
    }
    m_finishAddress = address + 1;

    auto stopping = Usb::sendDescribedRequest(this, m_manager, "StopDataReading", {}, &OrvimStartReceiveFlashDataCommand::handleStopAnswer);
    if (!isOk(stopping)) {
        std::cout << "" << " Error: " << stopping->status << std::endl;
        finish(stopping);
        return;
    }
    std::cout << std::endl;
}

void OrvimStartReceiveFlashDataCommand::handleStopAnswer(std::shared_ptr<Usb::ByteCommand>,
                                                         const std::vector<uint8_t>& answer,
                                                         int32_t status)
{
    std::cout << std::endl;
    if (auto failed = checkAnswer(answer, status)) {
        std::cout << " Error: " << status << std::endl;
        m_listener->setActive(false);
        finish(failed);
        return;
    }
    std::cout << std::endl;
    std::cout << " startAddress=" << m_startAddress << " finishAddress=" << m_finishAddress
              << " transmitBlockSize=" << m_transmitBlockSize << std::endl;
    // A half frame left by a stopped read-out must not start the new one.
    m_listener->setActive(false);
    m_listener->resetParcer();
    m_listener->startReadout(m_startAddress, m_finishAddress, m_transmitBlockSize);
    auto starting = Usb::sendDescribedRequest(this, m_manager, "StartDataReading", startArguments(m_startAddress), &OrvimStartReceiveFlashDataCommand::handleStartAnswer);
    if (!isOk(starting)) {
        m_listener->setActive(false);
        finish(starting);
    }
}

void OrvimStartReceiveFlashDataCommand::handleStartAnswer(std::shared_ptr<Usb::ByteCommand>,
                                                          const std::vector<uint8_t>& answer,
                                                          int32_t status)
{
    if (auto failed = checkAnswer(answer, status)) {
        std::cout << " Error: " << status << std::endl;
        m_listener->setActive(false);
        finish(failed);
        return;
    }
    finish(ok());
}

} // namespace Tavrix::DeviceComplexCommands
