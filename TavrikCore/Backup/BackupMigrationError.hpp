#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tavrik {

// Why a backup document could not be migrated, checked or written. `what()` is the user text.
class BackupMigrationError : public std::runtime_error {
public:
    enum class Kind {
        invalid,
        unsupportedVersion,
        newerVersion,
    };

    static BackupMigrationError invalid(std::string message);
    // A declared version below 10 that never existed (1 or negative).
    static BackupMigrationError unsupportedVersion(std::int64_t version);
    // A declared version of 10 or more.
    static BackupMigrationError newerVersion(std::int64_t version);

    Kind kind() const { return kind_; }
    // The message of `invalid`; empty for the version cases.
    const std::string& message() const { return message_; }
    // The version of `unsupportedVersion` and `newerVersion`; 0 for `invalid`.
    std::int64_t version() const { return version_; }

    friend bool operator==(const BackupMigrationError& left, const BackupMigrationError& right)
    {
        return left.kind_ == right.kind_ && left.message_ == right.message_ && left.version_ == right.version_;
    }

private:
    BackupMigrationError(Kind kind, std::string message, std::int64_t version, const std::string& description);

    Kind kind_;
    std::string message_;
    std::int64_t version_;
};

} // namespace tavrik
