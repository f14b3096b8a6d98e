#pragma once

#include <cstdint>
#include <vector>

namespace Tavrix::DevicesInfo {

enum class ECommandDataType : int32_t { INT = 0, DOUBLE = 1, DATE = 2, TEXT = 3, BINARY = 4 };
enum class ECommandSourceType : int32_t { FIXED = 0, DYNAMIC = 1 };

// Argument and answer rules of one simple command.
struct SimpleCommandData
{
    ECommandSourceType sourceType = ECommandSourceType::FIXED;
    ECommandDataType dataType = ECommandDataType::BINARY;
    ECommandDataType answerType = ECommandDataType::BINARY;
    int32_t width = 0; // required payload length; negative: any length
    std::vector<std::vector<uint8_t>> options;
};

} // namespace Tavrix::DevicesInfo
