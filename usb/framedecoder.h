#pragma once

#include "devicesinfo/devicechanneltypeinfo.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Tavrix::Usb {

// One kind of signal a frame carries: `count` values per frame.
struct AdcChannelData
{
    DevicesInfo::DeviceChannelTypeInfo key;
    uint64_t count = 0;
    std::vector<int32_t> values;
};

// Recognises one signal frame layout and unpacks its samples into fixed
// channel groups. The channel manager tries its decoders in order and keeps
// the frame counter and button flag of the last frame here.
class FrameDecoder
{
public:
    virtual ~FrameDecoder();

    virtual bool isValidFrame(const std::vector<uint8_t>& frame) = 0;
    virtual unsigned getFrameNumber(const std::vector<uint8_t>& frame) = 0;
    virtual bool hasButtonLabel(const std::vector<uint8_t>& frame) = 0;
    // Fills every group with `count` values taken from the frame.
    virtual void parseData(const std::vector<uint8_t>& frame) = 0;

    const std::string& name() const { return m_name; }

    uint32_t frameCounter() const { return m_frameCounter; }
    void setFrameCounter(uint32_t counter) { m_frameCounter = counter; }
    bool buttonFlag() const { return m_buttonFlag; }
    void setButtonFlag(bool pressed) { m_buttonFlag = pressed; }

    const std::vector<AdcChannelData>& groups() const { return m_groups; }
    // Null when the decoder has no group with the key.
    AdcChannelData* findGroup(const DevicesInfo::DeviceChannelTypeInfo& key);
    const AdcChannelData* findGroup(const DevicesInfo::DeviceChannelTypeInfo& key) const;
    // Changes how many values the group takes per frame; false without such a group.
    bool setGroupCount(const DevicesInfo::DeviceChannelTypeInfo& key, uint64_t count);

    // 24-bit signed little-endian sample, sign-extended; 0 when the three
    // bytes at `offset` are not all inside the frame.
    static int32_t readSample(const std::vector<uint8_t>& frame, std::size_t offset);
    // 16-bit little-endian; 0 when outside the frame.
    static unsigned readUint16(const std::vector<uint8_t>& frame, std::size_t offset);

protected:
    FrameDecoder(std::string name, std::vector<AdcChannelData> groups);

    // True when the frame is exactly `length` bytes and starts with `header`.
    static bool matches(const std::vector<uint8_t>& frame, std::size_t length, const uint8_t (&header)[4]);
    // Fills the group with its count of samples from `offset` on, of which at
    // most `capacity` exist in the layout; the rest read as 0 so a count raised
    // at run time never reads bytes that belong to other fields.
    static void readGroup(AdcChannelData& group,
                          const std::vector<uint8_t>& frame,
                          std::size_t offset,
                          uint64_t capacity);

    std::vector<AdcChannelData>& mutableGroups() { return m_groups; }

private:
    std::string m_name;
    uint32_t m_frameCounter = 0;
    bool m_buttonFlag = false;
    std::vector<AdcChannelData> m_groups;
};

} // namespace Tavrix::Usb
