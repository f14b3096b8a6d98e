#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Tavrix::Common {

class ByteArrayProvider
{
public:
    // "7E, 01, BD": upper-case hex bytes separated by ", ".
    static std::string packToText(const std::vector<uint8_t>& bytes);
};

} // namespace Tavrix::Common
