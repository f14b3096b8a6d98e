#pragma once

#include <string>

namespace Tavrix::Common {

class StringComparer
{
public:
    static bool isEqualsInsensitive(const std::string& a, const std::string& b);
};

} // namespace Tavrix::Common
