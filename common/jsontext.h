#pragma once

#include <QByteArray>

namespace Tavrix::Common {

// Checks on JSON text made before it is handed to Qt's parser.
class JsonText
{
public:
    // True when some object in the text names the same member twice
    // (compared after unescaping, as the parser compares them). Qt 5's parser
    // never frees the earlier value of such a member when it is an object or
    // an array, so text from clients with repeated members must be refused
    // before parsing. Text that is not JSON may give either answer; the
    // parser refuses it anyway.
    static bool hasRepeatedMember(const QByteArray& text);
};

} // namespace Tavrix::Common
