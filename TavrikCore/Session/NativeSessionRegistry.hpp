#pragma once

#include "TavrikCore/Session/CompanionSession.hpp"
#include "TavrikCore/Support/Data.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>

namespace tavrik {

// Hands out integer handles for sessions and serialises every call: one lock, held across the whole of
// each create, dispatch and destroy, so a host may call from any thread.
class NativeSessionRegistry final {
public:
    using SessionFactory = std::function<std::unique_ptr<CompanionSession>(bool allowSimulator)>;

    NativeSessionRegistry();
    // `lastHandle` is the handle taken to be handed out last (0 at start).
    explicit NativeSessionRegistry(SessionFactory factory, std::int64_t lastHandle = 0);
    NativeSessionRegistry(const NativeSessionRegistry&) = delete;
    NativeSessionRegistry& operator=(const NativeSessionRegistry&) = delete;

    // Handles start at 1 and are never reused; 0 once the largest Int64 has been handed out.
    std::int64_t create(bool allowSimulator);
    // The session's response; {"version":1,"ok":false,"error":"Session is closed"} for an unknown handle.
    Data dispatch(std::int64_t handle, std::span<const std::uint8_t> action, std::span<const std::uint8_t> payload);
    // An unknown handle is ignored.
    void destroy(std::int64_t handle);
    std::size_t sessionCount() const;

private:
    mutable std::mutex lock;
    std::int64_t nextHandle = 0;
    std::map<std::int64_t, std::unique_ptr<CompanionSession>> sessions;
    SessionFactory factory;
};

} // namespace tavrik
