#pragma once

#include "devicewebapi/devicecomplexjsoncommand.h"

namespace Tavrix::DeviceWebApi {

class BeatDetectorLink;

// "GetHeartRate": {"HeartRate": bpm, "LastBeatFrame": frame counter}, both
// null when no beat came for five seconds. Answered by the service itself.
class GetHeartRateJsonCommand : public DeviceComplexJsonCommand
{
    Q_OBJECT

public:
    GetHeartRateJsonCommand(std::shared_ptr<Net::WebApi::JsonCommandDescription> description,
                            BeatDetectorLink* beats);

    static std::shared_ptr<Net::WebApi::JsonCommandDescription> createCommandDescription();

    // Answers at once, inside the call.
    JsonCommandStatusPtr execute(std::shared_ptr<Net::WebApi::IJsonCommandInfo> info) override;

private:
    BeatDetectorLink* m_beats;
};

} // namespace Tavrix::DeviceWebApi
