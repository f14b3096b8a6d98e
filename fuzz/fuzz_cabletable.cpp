// The cable table (Cables.json) and what is looked up in it: the table as a
// whole, and one record by type as the cable operations do.
//
// Input: the file's content.

#include "fuzzsupport.h"

#include "common/jsontext.h"
#include "usb/cabletypeinfo.h"
#include "usb/cabletypeinfojsonparser.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace Tavrix::Usb;

FUZZ_QUIET_INITIALIZE()

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    const QByteArray json(reinterpret_cast<const char*>(data), static_cast<int>(size));
    // Qt's parser leaks the earlier value of a repeated member. The table is
    // read once at start-up, so the service does not guard against it there.
    if (Tavrix::Common::JsonText::hasRepeatedMember(json))
        return 0;
    std::vector<CableTypeInfo> cables;
    const bool ok = CableTypeInfoJsonParser::parseCables(json, cables);
    if (!ok)
        return 0;
    for (const CableTypeInfo& cable : cables) {
        // Accepted records name a known lead group.
        FUZZ_CHECK(cable.leadGroup != 0);
        const CableTypeInfo* found = CableTypeInfo::find(cables, cable.type);
        FUZZ_CHECK(found && found->type == cable.type);
    }
    // Every record alone parses as it did inside the table.
    const QVariantList records = QJsonDocument::fromJson(json).object().toVariantMap().value("Cables").toList();
    FUZZ_CHECK(static_cast<std::size_t>(records.size()) == cables.size());
    for (int i = 0; i < records.size(); ++i) {
        CableTypeInfo alone;
        FUZZ_CHECK(CableTypeInfoJsonParser::parseCable(records.at(i).toMap(), &alone));
        FUZZ_CHECK(alone.type == cables[static_cast<std::size_t>(i)].type);
        FUZZ_CHECK(alone.leadGroup == cables[static_cast<std::size_t>(i)].leadGroup);
    }
    return 0;
}
