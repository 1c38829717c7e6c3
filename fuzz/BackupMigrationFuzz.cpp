// A backup file or a "sync_data" message from anyone: either it migrates to a current envelope that
// survives its own encoding, or it is refused with the migration error. Nothing else may happen.
#include "TavrikCore/Backup/BackupMigrationError.hpp"
#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"
#include "TavrikCore/Backup/BackupMigrationResult.hpp"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tavrik;
    const Data input(data, data + size);
    BackupMigrationResult result;
    try {
        result = BackupMigrationPipeline::migrate(input);
    } catch (const BackupMigrationError&) {
        return 0;
    }
    // What the program writes back out must read in again as the same data.
    const Data written = BackupMigrationPipeline::encodeCurrent(result.envelope, false);
    const BackupMigrationResult reread = BackupMigrationPipeline::migrate(written);
    if (!(reread.envelope == result.envelope)) {
        std::abort();
    }
    return 0;
}
