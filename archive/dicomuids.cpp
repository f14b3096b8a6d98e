#include "archive/dicomuids.h"

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dcuid.h"

#include <QByteArray>
#include <QUuid>

#include <algorithm>

namespace Tavrix::Archive {

bool DicomUids::isRoot(const std::string& root)
{
    // Up to 64 characters in all; the suffix DCMTK adds needs about 30.
    if (root.empty() || root.size() > 32 || root.front() == '.' || root.back() == '.')
        return false;
    std::size_t start = 0;
    while (start < root.size()) {
        const std::size_t end = std::min(root.find('.', start), root.size());
        const std::string component = root.substr(start, end - start);
        if (component.empty() || (component.size() > 1 && component[0] == '0')
            || component.find_first_not_of("0123456789") != std::string::npos)
            return false;
        start = end + 1;
    }
    return true;
}

std::string DicomUids::create(const std::string& root)
{
    if (!root.empty()) {
        char uid[100];
        return dcmGenerateUniqueIdentifier(uid, root.c_str());
    }
    const QByteArray bytes = QUuid::createUuid().toRfc4122();
    unsigned __int128 value = 0;
    for (const char byte : bytes)
        value = (value << 8) | static_cast<unsigned char>(byte);
    std::string digits;
    do {
        digits.push_back(static_cast<char>('0' + static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    std::reverse(digits.begin(), digits.end());
    return "2.25." + digits;
}

} // namespace Tavrix::Archive
