#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Tavrix::Archive {

// One lead as an archive names it: the label a reader shows and the
// standard lead code (SCPECG scheme) a reader matches on.
struct EcgLead
{
    std::string label;
    std::string codeValue;
    std::string codeMeaning;
};

// Which leads a resting ECG holds, and how they come from the recorder's
// channels. The standard 12-lead sets record I, II and V1–V6 (eight
// channels); III, aVR, aVL and aVF follow from I and II by Einthoven's and
// Goldberger's equations. Any other set keeps its recorded channels, named
// after its electrodes where those are lead names.
class EcgLeadSet
{
public:
    static constexpr const char* codingScheme = "SCPECG";
    static constexpr const char* codingSchemeVersion = "1.3";

    // `leadType` is the examination's lead-set code (none when no
    // examination was set); `channelCount` the recorder's ECG values per frame.
    static EcgLeadSet forExamination(std::optional<uint8_t> leadType, std::size_t channelCount);

    bool isStandardTwelveLead() const { return m_twelveLead; }
    // The leads of the file, in file order.
    const std::vector<EcgLead>& leads() const { return m_leads; }
    std::size_t recordedChannels() const { return m_recordedChannels; }

    // The file's leads from the recorded channels (one vector per channel,
    // equally long), in microvolts.
    std::vector<std::vector<double>> leadsFrom(const std::vector<std::vector<double>>& recorded) const;

    // The lead of a name ("V1", "aVR", "X"…); a lead without standard code
    // (an electrode name like "V5M", a number) gets the unspecified-lead code.
    static EcgLead leadNamed(const std::string& name);

private:
    bool m_twelveLead = false;
    std::size_t m_recordedChannels = 0;
    std::vector<EcgLead> m_leads;
};

} // namespace Tavrix::Archive
