#pragma once

#include "TavrikCore/Model/SyncPayloads.hpp"

#include <functional>
#include <optional>

namespace tavrik {

// The data known to be on the device, against which unsaved edits are measured. Taking it after
// every edit, or after every delivery of one, would copy and sort every routine on each key press in
// a title; the baseline is instead marked as "the data as they are now" (followCurrent), and it is
// built from the data only when something else is about to change them (beforeDataChange) or when
// it is read.
class BaselineSnapshot {
public:
    explicit BaselineSnapshot(std::function<SyncSnapshot()> current);

    BaselineSnapshot& operator=(SyncSnapshot taken);
    void reset();
    void followCurrent();
    // The data are about to change: a baseline that follows them is built first.
    void beforeDataChange();
    const std::optional<SyncSnapshot>& value() const;
    bool followsCurrent() const { return following; }

    // While held, changes do not build the baseline: the edit that holds it ends by taking or
    // following the data, so what they were in between does not matter.
    class Hold {
    public:
        explicit Hold(BaselineSnapshot& baseline);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        BaselineSnapshot& baseline;
    };

private:
    void build() const;

    std::function<SyncSnapshot()> current;
    mutable std::optional<SyncSnapshot> snapshot;
    mutable bool following = false;
    int holds = 0;
};

} // namespace tavrik
