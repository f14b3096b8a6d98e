#include "devicewebapi/signalrecordingeventmessagepacker.h"

#include "common/messagepacker.h"

namespace Tavrix::DeviceWebApi {

namespace {
// The packer writes 32-bit numbers; anything larger still goes out, as text.
void packCount(Common::MessagePacker& packer, int64_t value)
{
    if (value >= 0 && value <= static_cast<int64_t>(UINT32_MAX))
        packer.packUnsigned(static_cast<uint32_t>(value));
    else
        packer << std::to_string(value);
}
} // namespace

SignalRecordingEventMessagePacker::SignalRecordingEventMessagePacker(std::string fileName, int64_t size,
                                                                     int64_t durationMs, std::string reason)
    : m_fileName(std::move(fileName))
    , m_size(size)
    , m_durationMs(durationMs)
    , m_reason(std::move(reason))
{
}

void SignalRecordingEventMessagePacker::pack(Common::MessagePacker& packer)
{
    packer.packMapHeader(6);
    packer << "type" << "signalRecording";
    packer << "file" << m_fileName;
    packer << "size";
    packCount(packer, m_size);
    packer << "durationMs";
    packCount(packer, m_durationMs);
    packer << "url" << ("/recordings/" + m_fileName);
    packer << "reason" << m_reason;
}

} // namespace Tavrix::DeviceWebApi
