#pragma once

/* The companion session engine for hosts: JSON actions in, JSON responses out. Every call may come
 * from any thread; one process-wide lock serialises them. Nothing here fails by throwing or by
 * returning NULL. */

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define TAVRIK_SESSION_EXPORT __attribute__((visibility("default")))
#else
#define TAVRIK_SESSION_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A new session; its handle, counting from 1 and never reused. 0 when no handle is left or the
 * session could not be made. */
TAVRIK_SESSION_EXPORT int64_t tavrik_session_create(int allow_simulator);

/* Runs one action (JSON bytes) with its payload (NULL with length 0 when there is none) and gives
 * the response's JSON bytes, never NULL; their count goes to *response_length when that is not NULL.
 * A NULL pointer with a non-zero length is refused with "Invalid action envelope"; an unknown handle
 * gives "Session is closed". Free the response with tavrik_session_free. */
TAVRIK_SESSION_EXPORT uint8_t* tavrik_session_dispatch(int64_t handle, const uint8_t* action, size_t action_length,
    const uint8_t* payload, size_t payload_length, size_t* response_length);

/* Frees a response of tavrik_session_dispatch; NULL is ignored. */
TAVRIK_SESSION_EXPORT void tavrik_session_free(uint8_t* response);

/* Ends the session; an unknown handle is ignored. */
TAVRIK_SESSION_EXPORT void tavrik_session_destroy(int64_t handle);

#ifdef __cplusplus
}
#endif
