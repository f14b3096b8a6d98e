#include "common/stringcomparer.h"

#include "common/stringextensions.h"

namespace Tavrix::Common {

bool StringComparer::isEqualsInsensitive(const std::string& a, const std::string& b)
{
    return StringExtensions::isEqualsInsensitive(a, b);
}

} // namespace Tavrix::Common
