#pragma once

#include "TavrikCore/Backup/BackupMigrationResult.hpp"
#include "TavrikCore/Backup/SyncDataPieces.hpp"

#include <cstddef>
#include <optional>
#include <string_view>

namespace tavrik {

// Reads a "sync_data" document of the current schema a routine at a time, so a large one can be
// taken in over several turns of the event loop and no parse tree of more than one routine is held.
// Documents of older schemas, and any text the pieces do not plainly vouch for, take the
// whole-document road of BackupMigrationPipeline instead, which alone migrates.
//
// For a document both roads accept, the result is the same. A fault may surface here as a different
// error than the whole-document road would name first: on any exception, read the text again
// with BackupMigrationPipeline for the error to show.
class SyncDataRoutineReader {
public:
    // Nothing when the text needs the whole-document road, or holds fewer than `minimumRoutines`
    // routines (the caller reads such small ones whole). The text must outlive the reader.
    static std::optional<SyncDataRoutineReader> start(std::string_view text, std::size_t minimumRoutines = 0);
    // The same, from a text already cut apart (a long one is cut over several turns).
    static std::optional<SyncDataRoutineReader> start(SyncDataPieces pieces, std::size_t minimumRoutines = 0);

    std::size_t routineCount() const { return pieces.routines.size(); }
    std::size_t routinesRead() const { return next; }
    // Reads the next routine; false once every routine is read.
    bool readNextRoutine();
    // Checks the whole document once its routines are read, and hands it over.
    BackupMigrationResult finish();

private:
    explicit SyncDataRoutineReader(SyncDataPieces pieces)
        : pieces(std::move(pieces))
    {
    }

    SyncDataPieces pieces;
    std::size_t next = 0;
    BackupMigrationResult result;
};

} // namespace tavrik
