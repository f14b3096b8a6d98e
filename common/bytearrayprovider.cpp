#include "common/bytearrayprovider.h"

namespace Tavrix::Common {

std::string ByteArrayProvider::packToText(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 4);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text += ", ";
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

} // namespace Tavrix::Common
