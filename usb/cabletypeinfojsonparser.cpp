#include "usb/cabletypeinfojsonparser.h"

#include "common/jterminal.h"
#include "usb/leadgroupmap.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace Tavrix::Usb {

bool CableTypeInfoJsonParser::parseCable(const QVariantMap& cable, CableTypeInfo* out)
{
    static const LeadGroupMap leadGroups;
    const std::string leadGroupName = cable.value("LeadGroup").toString().toStdString();
    out->type = static_cast<uint8_t>(cable.value("Type").toUInt());
    out->pack = static_cast<uint8_t>(cable.value("Pack").toUInt());

    const auto it = leadGroups.find(leadGroupName);
    if (it == leadGroups.end()) {
        out->leadGroup = 0;
        return false;
    }
    out->leadGroup = it->second.number;
    if (out->leadGroup == 0)
        return false;

    out->serie = cable.value("Serie").toString().toStdString();
    out->name = cable.value("Name").toString().toStdString();
    out->elecType = cable.value("ElecType").toString().toStdString();
    out->fullName = cable.value("FullName").toString().toStdString();
    out->vin = cable.value("Vin").toString().toStdString();
    out->connectorType = cable.value("ConnectorType").toString().toStdString();
    return true;
}

bool CableTypeInfoJsonParser::parseCables(const QByteArray& json, std::vector<CableTypeInfo>& out)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject()) {
        Common::JTerminal('3') << "json object interpretation error";
        Common::JTerminal('1') << "Error: can't read cable types info";
        return false;
    }
    const QVariantList cables = document.object().toVariantMap().value("Cables").toList();
    for (const QVariant& element : cables) {
        CableTypeInfo info;
        if (!parseCable(element.toMap(), &info)) {
            Common::JTerminal('1') << "Error: can't read cable types info";
            return false;
        }
        out.push_back(info);
    }
    return true;
}

} // namespace Tavrix::Usb
