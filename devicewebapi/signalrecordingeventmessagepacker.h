#pragma once

#include "usb/ieventmessagepacker.h"

#include <cstdint>
#include <string>

namespace Tavrix::DeviceWebApi {

// The event of a finished signal recording:
// {"type": "signalRecording", "file", "size", "durationMs", "url", "reason"}.
class SignalRecordingEventMessagePacker : public Usb::IEventMessagePacker
{
public:
    SignalRecordingEventMessagePacker(std::string fileName, int64_t size, int64_t durationMs, std::string reason);
    void pack(Common::MessagePacker& packer) override;

private:
    std::string m_fileName;
    int64_t m_size;
    int64_t m_durationMs;
    std::string m_reason;
};

} // namespace Tavrix::DeviceWebApi
