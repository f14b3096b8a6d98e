// The examination block read back from the recorder's EEPROM: header, keyed
// items and check value, then each item's value as the web API shows it.
//
// Input: byte 0 bit 0 set: the block's check value is made to fit (so the
// fuzzer gets past it to the items); the rest is the block.

#include "fuzzsupport.h"

#include "devicecomplexcommands/examinationinfo.h"
#include "devicecomplexcommands/infomap.h"
#include "devicewebapi/examinationjsoncommands.h"

using namespace Tavrix::DeviceComplexCommands;
using FuzzSupport::Bytes;
using FuzzSupport::Input;

FUZZ_QUIET_INITIALIZE()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    Input input(data, size);
    const uint8_t mode = input.byte();
    Bytes block = input.rest();
    if ((mode & 1) && block.size() >= 4) {
        const std::size_t length = std::min<std::size_t>(block.size() - 4, block.size() >= 4 ? block[2] | (block[3] << 8) : 0);
        const uint32_t check = ExaminationRecords::checkValue(block.data(), length);
        if (length + 4 <= block.size()) {
            for (int i = 0; i < 4; ++i)
                block[length + static_cast<std::size_t>(i)] = static_cast<uint8_t>(check >> (8 * i));
        }
    }
    ElectrodesInfoCreator::create(mode >> 1);

    Tavrix::DeviceWebApi::GetExamFileNameJsonCommand::fileNameOf(block);
    InfoMap map;
    if (!InfoMap::fromExaminationBlock(block, map))
        return 0;
    for (const auto& entry : map.items())
        map.interpretValue(entry.first);

    // What the service read it can write back, and that reads the same. (A
    // block whose items are all gone reads as empty but is not written.)
    if (map.size() == 0)
        return 0;
    Bytes written;
    if (!map.toExaminationBlock(written))
        return 0;
    InfoMap again;
    FUZZ_CHECK(InfoMap::fromExaminationBlock(written, again));
    for (const auto& entry : again.items()) {
        const auto original = map.items().find(entry.first);
        if (original == map.items().end())
            continue;
        FUZZ_CHECK(original->second.tag == entry.second.tag);
        FUZZ_CHECK(original->second.data == entry.second.data);
    }
    return 0;
}
