#include "TavrikLink/Controller/BaselineSnapshot.hpp"

#include <utility>

namespace tavrik {

BaselineSnapshot::BaselineSnapshot(std::function<SyncSnapshot()> current)
    : current(std::move(current))
{
}

BaselineSnapshot& BaselineSnapshot::operator=(SyncSnapshot taken)
{
    snapshot = std::move(taken);
    following = false;
    return *this;
}

void BaselineSnapshot::reset()
{
    snapshot.reset();
    following = false;
}

void BaselineSnapshot::followCurrent()
{
    // The copy it held is never read again: building replaces it, so it need not sit beside the data.
    snapshot.reset();
    following = true;
}

void BaselineSnapshot::beforeDataChange()
{
    if (holds == 0) {
        build();
    }
}

const std::optional<SyncSnapshot>& BaselineSnapshot::value() const
{
    build();
    return snapshot;
}

void BaselineSnapshot::build() const
{
    if (following) {
        snapshot = current();
        following = false;
    }
}

BaselineSnapshot::Hold::Hold(BaselineSnapshot& baseline)
    : baseline(baseline)
{
    ++baseline.holds;
}

BaselineSnapshot::Hold::~Hold()
{
    --baseline.holds;
}

} // namespace tavrik
