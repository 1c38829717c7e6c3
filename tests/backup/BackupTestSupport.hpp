#pragma once

#include "TavrikCore/Backup/BackupMigrationError.hpp"
#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace tavrik::test {

inline std::string backupFixture(const std::string& name)
{
    std::ifstream file(std::string(TAVRIK_TEST_FIXTURES) + "/backup/" + name, std::ios::binary);
    EXPECT_TRUE(file.good()) << "missing fixture " << name;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The description of the BackupMigrationError that `run` throws, or a note that it threw none.
template <class Run>
std::string migrationErrorText(Run&& run)
{
    try {
        run();
    } catch (const BackupMigrationError& error) {
        return error.what();
    }
    return "(no BackupMigrationError)";
}

inline std::string migrationErrorText(const std::string& document)
{
    return migrationErrorText([&] { BackupMigrationPipeline::migrate(document); });
}

} // namespace tavrik::test
