#pragma once

// Text forms of values for the control interface (setValue / stateJson).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Tavrix::Simulator {

class ValueText {
public:
    // Decimal, or hexadecimal with a 0x prefix; nothing for anything else or
    // a value above `max`.
    static std::optional<uint64_t> toUnsigned(const std::string& text, uint64_t max);
    static std::optional<int64_t> toSigned(const std::string& text, int64_t min, int64_t max);
    static std::optional<double> toDouble(const std::string& text);
    // true/false, on/off, 1/0, yes/no (any letter case).
    static std::optional<bool> toBool(const std::string& text);
    // Hex digit pairs; blanks, ':' and '-' between pairs are ignored.
    static std::optional<std::vector<uint8_t>> toBytes(const std::string& text);
    static std::string hex(const std::vector<uint8_t>& bytes);
    static std::string jsonString(const std::string& text);
};

} // namespace Tavrix::Simulator
