#pragma once

#include "TavrikCore/Model/RoutineGroupMode.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace tavrik {

// Names older firmware and older backups used for groups; read as fallbacks only, never written.
struct LegacyRoutineKeys {
    static constexpr std::string_view groups = "timeboxes";
    static constexpr std::string_view groupCount = "timeboxCount";
};

// One entry of the device's routine list.
struct RoutineSummary {
    std::uint32_t id = 0;
    std::string label;
    std::int64_t stepCount = 0;
    std::int64_t groupCount = 0;
    std::int64_t startTagCount = 0;

    bool operator==(const RoutineSummary&) const = default;
};

struct RoutineStepPayload {
    std::uint32_t id = 0; // 0: the device sent none; a fresh id is drawn when the step joins a detail
    std::int64_t position = 0;
    std::uint32_t parentId = 0; // 0: at the routine's root
    std::string tagId;
    std::int64_t seconds = 0;
    std::string instruction;
    std::int64_t unstoppable = 0; // a JSON number; non-zero means yes

    // The device fields in the order every step record lists them (see routineStepFieldNames).
    auto fields() { return std::tie(id, position, parentId, tagId, seconds, instruction, unstoppable); }
    auto fields() const { return std::tie(id, position, parentId, tagId, seconds, instruction, unstoppable); }

    bool operator==(const RoutineStepPayload&) const = default;
};

struct RoutineGroupPayload {
    std::uint32_t id = 0;
    std::int64_t position = 0;
    std::string label;
    RoutineGroupMode mode = RoutineGroupMode::timebox;
    std::int64_t timeLimitSeconds = 0;

    bool operator==(const RoutineGroupPayload&) const = default;
};

// A whole routine as sync data, restores and backups carry it.
struct RoutinePayload {
    std::uint32_t id = 0;
    std::string label;
    std::vector<RoutineStepPayload> steps;
    std::vector<RoutineGroupPayload> groups;
    std::vector<std::uint32_t> startTagIds;

    bool operator==(const RoutinePayload&) const = default;
};

// The routine running on the device.
struct RoutineActiveState {
    std::uint32_t id = 0;
    std::int64_t step = 0;
    std::optional<std::string> label;
    std::optional<std::int64_t> stepCount;

    bool operator==(const RoutineActiveState&) const = default;
};

// Every routine message from the device; only `type` is required.
struct RoutineEnvelope {
    std::string type;
    std::optional<std::string> message;
    std::optional<std::vector<RoutineSummary>> routines;
    std::optional<std::uint32_t> id;
    std::optional<std::string> label;
    std::optional<std::int64_t> stepCount;
    std::optional<std::int64_t> groupCount;
    std::optional<std::int64_t> startTagCount;
    std::optional<std::int64_t> index;
    std::optional<std::vector<RoutineStepPayload>> steps;
    std::optional<std::vector<RoutineGroupPayload>> groups;
    std::optional<std::vector<std::uint32_t>> startTagIds;
    std::optional<std::string> state;
    std::optional<std::int64_t> count;
    std::optional<std::string> event;
    std::optional<std::int64_t> step;
    std::optional<RoutineActiveState> active;

    bool operator==(const RoutineEnvelope&) const = default;
};

// Readers throw JsonDecodeError when a required key is missing, a value has the wrong JSON type,
// or any nested record fails. Writers use the current key names in declaration order.
Json toJson(const RoutineSummary& summary);
RoutineSummary routineSummaryFromJson(const Json& object);

Json toJson(const RoutineStepPayload& step);
RoutineStepPayload routineStepPayloadFromJson(const Json& object);

Json toJson(const RoutineGroupPayload& group);
RoutineGroupPayload routineGroupPayloadFromJson(const Json& object);

Json toJson(const RoutinePayload& routine);
RoutinePayload routinePayloadFromJson(const Json& object);

Json toJson(const RoutineActiveState& state);
RoutineActiveState routineActiveStateFromJson(const Json& object);

Json toJson(const RoutineEnvelope& envelope);
RoutineEnvelope routineEnvelopeFromJson(const Json& object);

} // namespace tavrik
