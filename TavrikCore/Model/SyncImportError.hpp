#pragma once

#include <stdexcept>
#include <string>

namespace tavrik {

// Imported or restored data, or a firmware image, was refused; `what()` is the user text.
class SyncImportError : public std::runtime_error {
public:
    explicit SyncImportError(const std::string& message)
        : std::runtime_error(message)
    {
    }

    std::string message() const { return what(); }
};

} // namespace tavrik
