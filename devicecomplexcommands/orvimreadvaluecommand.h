#pragma once

#include "common/bytereader.h"
#include "devicecomplexcommands/operationexchange.h"
#include "usb/operationrunner.h"
#include "usb/recorderframe.h"
#include "usb/usbdevicemanager.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Tavrix::DeviceComplexCommands {

// What it takes to read one value with one described request: the simple
// command of the device description, the exact length of its answer and how
// the value is read from the answer's data. `decode` gives nothing for data
// the recorder never sends (the answer then fails as WRONG_FRAME_FORMAT);
// the reader it gets fails any read past the data.
template<typename Value>
struct ValueRead
{
    std::string simpleCommand;
    std::size_t answerSize = 0;
    std::optional<Value> (*decode)(Common::ByteReader& fields) = nullptr;
};

// Field readers for the common answer shapes: the first data bytes as a
// little-endian integer.
inline std::optional<uint8_t> firstU8(Common::ByteReader& fields)
{
    uint8_t value = 0;
    return fields.readU8(value) ? std::optional<uint8_t>(value) : std::nullopt;
}

inline std::optional<uint16_t> firstU16(Common::ByteReader& fields)
{
    uint16_t value = 0;
    return fields.readU16(value) ? std::optional<uint16_t>(value) : std::nullopt;
}

// The Orvim realisation of any operation whose whole work is one described
// request answered by one value. `Operation` is the operation class the
// front ends know, with the signal
// answerIsReady(Usb::ComplexCommand*, Value, status); the value is Value{}
// whenever the status is not OK. A new read of this shape needs no class
// of its own here: its binding row names the ValueRead.
template<typename Operation, typename Value>
class OrvimReadValueCommand : public Operation
{
public:
    OrvimReadValueCommand(uint32_t uid, std::string name, ValueRead<Value> read, Usb::UsbDeviceManager* manager)
        : Operation(std::move(name), uid)
        , m_read(std::move(read))
        , m_manager(manager)
    {
    }

    std::shared_ptr<Usb::DeviceCommandStatus> execute() override
    {
        return Usb::sendDescribedRequest(
            this, m_manager, m_read.simpleCommand, {}, [this](const std::vector<uint8_t>& answer, int32_t status) {
                std::optional<Value> value;
                const auto result = Exchange::check(answer, status, [this, &value](const std::vector<uint8_t>& bytes) {
                    if (bytes.size() != m_read.answerSize || !m_read.decode)
                        return false;
                    Common::ByteReader fields = Usb::RecorderFrame::fields(bytes);
                    value = m_read.decode(fields);
                    return value.has_value();
                });
                emit this->answerIsReady(this, Exchange::isOk(result) ? *value : Value{}, result);
            });
    }

    const ValueRead<Value>& valueRead() const { return m_read; }

private:
    ValueRead<Value> m_read;
    Usb::UsbDeviceManager* m_manager;
};

} // namespace Tavrix::DeviceComplexCommands
