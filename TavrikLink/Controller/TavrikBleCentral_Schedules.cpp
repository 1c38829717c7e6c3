#include "TavrikLink/Controller/TavrikBleCentral.hpp"

#include "TavrikCore/Model/Json.hpp"

namespace tavrik {

void TavrikBleCentral::handleSchedulePayload(const Data& payload)
{
    // Completed with the schedule operations; until then only the list and a refusal are taken in.
    try {
        const ScheduleEnvelope envelope = scheduleEnvelopeFromJson(parseJson(payload));
        if (envelope.type == "error") {
            setScheduleError(envelope.message.value_or("Schedule update failed"));
        } else if (envelope.schedules) {
            publish(schedules_, *envelope.schedules, &TavrikBleCentral::schedulesChanged);
        }
    } catch (const std::exception&) {
    }
    recordUserInteraction();
}

void TavrikBleCentral::resetScheduleState()
{
    publish(schedules_, std::vector<ScheduledRoutine> {}, &TavrikBleCentral::schedulesChanged);
    publish(routines_, std::vector<ScheduleDefinition> {}, &TavrikBleCentral::routinesChanged);
    setScheduleError(std::nullopt);
}

} // namespace tavrik
