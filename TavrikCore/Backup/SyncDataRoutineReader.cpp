#include "TavrikCore/Backup/SyncDataRoutineReader.hpp"

#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Backup/BackupSchemaChain.hpp"
#include "TavrikCore/Model/RoutinePayloads.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <exception>
#include <utility>

namespace tavrik {

std::optional<SyncDataRoutineReader> SyncDataRoutineReader::start(std::string_view text, std::size_t minimumRoutines)
{
    std::optional<SyncDataPieces> pieces = SyncDataPieces::split(text);
    if (!pieces) {
        return std::nullopt;
    }
    return start(std::move(*pieces), minimumRoutines);
}

std::optional<SyncDataRoutineReader> SyncDataRoutineReader::start(SyncDataPieces pieces, std::size_t minimumRoutines)
{
    if (pieces.routines.size() < minimumRoutines) {
        return std::nullopt;
    }
    SyncDataRoutineReader reader(std::move(pieces));
    try {
        const Json document = parseJson(reader.pieces.document);
        const Json* type = json::member(document, "type");
        if (!type || !type->is_string() || type->get_ref<const std::string&>() != "sync_data"
            || backup_chain::schemaVersion(document) != currentBackupSchemaVersion) {
            return std::nullopt;
        }
        reader.result.sourceVersion = currentBackupSchemaVersion;
        reader.result.envelope = syncDataEnvelopeFromJson(document);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    reader.result.envelope.routines.reserve(reader.pieces.routines.size());
    return reader;
}

bool SyncDataRoutineReader::readNextRoutine()
{
    if (next == pieces.routines.size()) {
        return false;
    }
    const Json routine = parseJson(pieces.routines[next]);
    if (!routine.is_object()) {
        throw JsonDecodeError("Expected an object for \"routines\"");
    }
    backup_chain::validateGroupRoutine(routine);
    result.envelope.routines.push_back(routinePayloadFromJson(routine));
    ++next;
    return next < pieces.routines.size();
}

BackupMigrationResult SyncDataRoutineReader::finish()
{
    while (readNextRoutine()) { }
    BackupMigrationPipeline::validateCurrentEnvelope(result.envelope);
    pieces = {};
    return std::move(result);
}

} // namespace tavrik
