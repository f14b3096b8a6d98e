#pragma once

#include "usb/cabletypeinfo.h"

#include <QByteArray>
#include <QVariantMap>
#include <vector>

namespace Tavrix::Usb {

class CableTypeInfoJsonParser
{
public:
    // False for an unknown lead-group name; texts are written only on success.
    static bool parseCable(const QVariantMap& cable, CableTypeInfo* out);
    // The whole Cables.json content; logs and returns false on any fault.
    static bool parseCables(const QByteArray& json, std::vector<CableTypeInfo>& out);
};

} // namespace Tavrix::Usb
