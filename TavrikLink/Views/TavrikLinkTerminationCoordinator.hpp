#pragma once

#include <functional>
#include <optional>

namespace tavrik {

// Where the main window leaves the work that must finish before the program may quit (shutting the
// device session down). The quit sequence reads it when a quit is requested.
class TavrikLinkTerminationCoordinator {
public:
    // Starts the shutdown and calls the completion once it has ended, possibly before returning.
    using PrepareForTermination = std::function<void(std::function<void()> completion)>;

    void setPrepareForTermination(PrepareForTermination operation) { prepare = std::move(operation); }
    void clearPrepareForTermination() { prepare.reset(); }
    const std::optional<PrepareForTermination>& prepareForTermination() const { return prepare; }

private:
    std::optional<PrepareForTermination> prepare;
};

} // namespace tavrik
