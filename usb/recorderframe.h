#pragma once

#include "common/bytereader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Tavrix::Usb {

// The recorder's frame: 7E, the data length (16-bit little-endian), a code,
// the data, a 16-bit checksum field and BD. Every request the service sends
// is built here, and every answer field is read through `fields`.
class RecorderFrame
{
public:
    static constexpr uint8_t startByte = 0x7E;
    static constexpr uint8_t endByte = 0xBD;
    // Start, length, code, checksum, end.
    static constexpr std::size_t overhead = 7;
    static constexpr std::size_t codeOffset = 3;
    static constexpr std::size_t dataOffset = 4;
    // The recorder does not check the checksum of a request.
    static constexpr uint16_t noChecksum = 0xFFFF;

    // Empty when `data` is longer than the length field can say.
    static std::vector<uint8_t> request(uint8_t code, const std::vector<uint8_t>& data = {},
                                        uint16_t checksum = noChecksum);

    // A reader of an answer's bytes from `offset` (counted from the frame's
    // start) up to its checksum field: a field the answer is too short for
    // fails to read instead of taking the checksum or end byte for data.
    static Common::ByteReader fields(const std::vector<uint8_t>& answer, std::size_t offset = dataOffset);
};

} // namespace Tavrix::Usb
