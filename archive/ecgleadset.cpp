#include "archive/ecgleadset.h"

#include "devicecomplexcommands/examinationinfo.h"

namespace Tavrix::Archive {

namespace {

struct CodedLead
{
    const char* name;
    int number; // the lead's number in the SCPECG lead table
};

// The leads this recorder family can name. The numbers are the SCPECG lead
// table's, which the MDC lead codes share for the first eighteen.
const CodedLead codedLeads[] = {
    {"I", 1},    {"II", 2},    {"V1", 3},   {"V2", 4},   {"V3", 5},   {"V4", 6},   {"V5", 7},   {"V6", 8},
    {"V7", 9},   {"V2R", 10},  {"V3R", 11}, {"V4R", 12}, {"V5R", 13}, {"V6R", 14}, {"V7R", 15}, {"X", 16},
    {"Y", 17},   {"Z", 18},    {"III", 61}, {"aVR", 62}, {"aVL", 63}, {"aVF", 64},
};

EcgLead coded(const std::string& label, int number, const std::string& meaning)
{
    return {label, "5.6.3-9-" + std::to_string(number), meaning};
}

bool isStandardTwelveLeadSet(uint8_t leadType)
{
    // The lead sets whose eight channels are I, II and V1–V6 (the rest derived).
    return leadType == 1 || leadType == 25 || leadType == 30;
}

} // namespace

EcgLead EcgLeadSet::leadNamed(const std::string& name)
{
    for (const CodedLead& lead : codedLeads) {
        if (name == lead.name)
            return coded(name, lead.number, std::string("Lead ") + lead.name);
    }
    return coded(name, 0, "Unspecified lead");
}

EcgLeadSet EcgLeadSet::forExamination(std::optional<uint8_t> leadType, std::size_t channelCount)
{
    EcgLeadSet set;
    set.m_recordedChannels = channelCount;
    if (leadType && isStandardTwelveLeadSet(*leadType) && channelCount == 8) {
        set.m_twelveLead = true;
        for (const char* name : {"I", "II", "III", "aVR", "aVL", "aVF", "V1", "V2", "V3", "V4", "V5", "V6"})
            set.m_leads.push_back(leadNamed(name));
        return set;
    }
    std::vector<std::string> names;
    if (leadType) {
        const std::shared_ptr<DeviceComplexCommands::ElectrodesInfo> electrodes =
            DeviceComplexCommands::ElectrodesInfoCreator::create(*leadType);
        // Electrode names serve as lead names only for sets whose electrodes
        // are leads (no polarity flags) and that name every channel.
        if (electrodes && electrodes->flags[0] == 0 && electrodes->flags[1] == 0 && electrodes->flags[2] == 0
            && electrodes->electrodes.size() == channelCount)
            names = electrodes->electrodes;
    }
    for (std::size_t i = 0; i < channelCount; ++i)
        set.m_leads.push_back(names.empty() ? leadNamed("ECG " + std::to_string(i + 1)) : leadNamed(names[i]));
    return set;
}

std::vector<std::vector<double>> EcgLeadSet::leadsFrom(const std::vector<std::vector<double>>& recorded) const
{
    if (!m_twelveLead)
        return recorded;
    const std::vector<double>& one = recorded.at(0);
    const std::vector<double>& two = recorded.at(1);
    const std::size_t count = one.size();
    std::vector<double> three(count), aVR(count), aVL(count), aVF(count);
    for (std::size_t i = 0; i < count; ++i) {
        three[i] = two[i] - one[i];
        aVR[i] = -(one[i] + two[i]) / 2;
        aVL[i] = one[i] - two[i] / 2;
        aVF[i] = two[i] - one[i] / 2;
    }
    std::vector<std::vector<double>> leads{one, two, three, aVR, aVL, aVF};
    for (std::size_t v = 2; v < 8; ++v)
        leads.push_back(recorded.at(v));
    return leads;
}

} // namespace Tavrix::Archive
