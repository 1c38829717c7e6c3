#include "TavrikCore/Session/NativeSessionRegistry.hpp"

#include <limits>
#include <string_view>
#include <utility>

namespace tavrik {

namespace {

constexpr std::string_view sessionClosed = R"({"version":1,"ok":false,"error":"Session is closed"})";

} // namespace

NativeSessionRegistry::NativeSessionRegistry()
    : NativeSessionRegistry([](bool allowSimulator) { return std::make_unique<CompanionSession>(allowSimulator); })
{
}

NativeSessionRegistry::NativeSessionRegistry(SessionFactory factory, std::int64_t lastHandle)
    : nextHandle(lastHandle)
    , factory(std::move(factory))
{
}

std::int64_t NativeSessionRegistry::create(bool allowSimulator)
{
    const std::lock_guard guard(lock);
    if (nextHandle == std::numeric_limits<std::int64_t>::max()) {
        return 0;
    }
    std::unique_ptr<CompanionSession> session = factory(allowSimulator);
    ++nextHandle;
    sessions.emplace(nextHandle, std::move(session));
    return nextHandle;
}

Data NativeSessionRegistry::dispatch(
    std::int64_t handle, std::span<const std::uint8_t> action, std::span<const std::uint8_t> payload)
{
    const std::lock_guard guard(lock);
    const auto found = sessions.find(handle);
    if (found == sessions.end()) {
        return dataFromString(sessionClosed);
    }
    return found->second->dispatch(action, payload);
}

void NativeSessionRegistry::destroy(std::int64_t handle)
{
    std::unique_ptr<CompanionSession> released;
    {
        const std::lock_guard guard(lock);
        const auto found = sessions.find(handle);
        if (found == sessions.end()) {
            return;
        }
        released = std::move(found->second);
        sessions.erase(found);
    }
}

std::size_t NativeSessionRegistry::sessionCount() const
{
    const std::lock_guard guard(lock);
    return sessions.size();
}

} // namespace tavrik
