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

std::uint32_t TavrikBleCentral::createSchedule(std::uint32_t)
{
    return 0;
}

void TavrikBleCentral::setScheduleHour(std::uint32_t, std::int64_t)
{
}

void TavrikBleCentral::setScheduleMinute(std::uint32_t, std::int64_t)
{
}

void TavrikBleCentral::setScheduleDays(std::uint32_t, const std::set<int>&)
{
}

void TavrikBleCentral::setScheduleEnabled(std::uint32_t, bool)
{
}

void TavrikBleCentral::setScheduleKind(std::uint32_t, ScheduleKind)
{
}

void TavrikBleCentral::setScheduleStartsAt(std::uint32_t, Moment)
{
}

void TavrikBleCentral::deleteSchedule(std::uint32_t)
{
}

std::vector<ScheduledRoutine> TavrikBleCentral::schedulesResolvedForPersistence() const
{
    return schedules_;
}

void TavrikBleCentral::update(AtomicCommandChannel channel, std::uint32_t id, std::string_view attribute,
    std::string_view value)
{
    const std::string command = "update id=" + std::to_string(id) + " " + std::string(attribute) + "=" + std::string(value);
    persist(channel, id, { command }, true, std::string(attribute));
}

void TavrikBleCentral::updateSchedule(std::uint32_t, std::string_view, std::string_view,
    const std::function<void(ScheduledRoutine&)>&)
{
}

void TavrikBleCentral::publishSchedules(std::vector<ScheduledRoutine> schedules)
{
    publish(schedules_, std::move(schedules), &TavrikBleCentral::schedulesChanged);
}

} // namespace tavrik
