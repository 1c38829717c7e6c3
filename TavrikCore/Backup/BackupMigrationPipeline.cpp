#include "TavrikCore/Backup/BackupMigrationPipeline.hpp"

#include "TavrikCore/Backup/BackupSchemaChain.hpp"
#include "TavrikCore/Support/Json.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace tavrik {

namespace {

// Where the parser gave up on the text, as a person finds it in an editor; empty when the error
// has no place (too deep, a number out of range). The place comes from the one parse already run:
// parsing again only to find it would build, without the depth limit, whatever tree the text holds.
std::string syntaxErrorPlace(std::string_view text, const JsonDecodeError& error)
{
    const std::optional<std::size_t> byte = error.syntaxErrorByte();
    if (!byte) {
        return {};
    }
    const std::string_view before = text.substr(0, std::min(text.size(), *byte > 0 ? *byte - 1 : 0));
    const std::size_t lineStart = before.rfind('\n');
    const auto line = 1 + std::count(before.begin(), before.end(), '\n');
    const std::size_t column = 1 + before.size() - (lineStart == std::string_view::npos ? 0 : lineStart + 1);
    return " (line " + std::to_string(line) + ", column " + std::to_string(column) + ")";
}

Json decodeDocument(std::string_view text)
{
    Json document;
    try {
        document = parseJson(text);
    } catch (const JsonDecodeError& error) {
        if (text.empty()) {
            throw BackupMigrationError::invalid("Backup is not valid JSON: The file is empty");
        }
        // The parser's plain "not valid JSON" would only repeat the sentence; its other reasons add to it.
        const std::string reason = error.what();
        throw BackupMigrationError::invalid("Backup is not valid JSON"
            + (reason == "The data is not valid JSON" ? std::string() : ": " + reason) + syntaxErrorPlace(text, error));
    }
    if (!document.is_object()) {
        throw BackupMigrationError::invalid("Backup root must be a JSON object");
    }
    return document;
}

bool isSyncData(const Json& document)
{
    const auto type = document.find("type");
    return type != document.end() && type->is_string() && type->get_ref<const std::string&>() == "sync_data";
}

} // namespace

BackupMigrationResult BackupMigrationPipeline::migrate(const Data& bytes)
{
    return migrate(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

BackupMigrationResult BackupMigrationPipeline::migrate(std::string_view text)
{
    return migrateParsed(decodeDocument(text));
}

BackupMigrationResult BackupMigrationPipeline::migrateParsed(Json document)
{
    if (!document.is_object()) {
        throw BackupMigrationError::invalid("Backup root must be a JSON object");
    }
    if (!isSyncData(document)) {
        throw BackupMigrationError::invalid("Backup is not Tavrik sync data");
    }

    BackupMigrationResult result;
    result.sourceVersion = backup_chain::schemaVersion(document);
    backup_chain::migrateToCurrent(document, result.sourceVersion, result.appliedSteps, result.warnings);
    backup_chain::validateGroupDocument(document);

    // The typed records are read straight from the migrated tree: writing a tree that came from the
    // parser (or from typed records) cannot fail and reading it back would give the same tree.
    try {
        result.envelope = syncDataEnvelopeFromJson(document);
    } catch (const JsonDecodeError& error) {
        throw BackupMigrationError::invalid("Backup could not be decoded as schema v"
            + std::to_string(rawValue(currentBackupSchemaVersion)) + ": " + error.what());
    }
    validateCurrentEnvelope(result.envelope);
    return result;
}

Data BackupMigrationPipeline::encodeCurrent(const SyncDataEnvelope& envelope, bool prettyPrinted)
{
    validateCurrentEnvelope(envelope);
    // Text that is not UTF-8 is refused rather than rewritten, so a backup never silently differs from the data.
    const std::optional<std::string> text = strictSortedJsonText(toJson(envelope), prettyPrinted);
    if (!text) {
        throw std::runtime_error("The data couldn\u2019t be written because it isn\u2019t in the correct format.");
    }
    return dataFromString(*text);
}

} // namespace tavrik
