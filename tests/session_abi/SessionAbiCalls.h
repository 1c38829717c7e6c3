#pragma once

/* Plain C calls into the session library, so the library is exercised exactly as a C host uses it. */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

int64_t abi_create(int allow_simulator);
void abi_destroy(int64_t handle);

/* Dispatches the action with its payload and gives a NUL-terminated copy of the response (free it
 * with abi_release); the library's own buffer is freed here. */
char* abi_dispatch(
    int64_t handle, const char* action, size_t action_length, const uint8_t* payload, size_t payload_length);
void abi_release(char* text);

/* Whether a response comes back for a NULL action of the given length; writes its text (at most
 * capacity - 1 bytes) to buffer. */
int abi_dispatch_null_action(int64_t handle, size_t action_length, char* buffer, size_t capacity);
/* The same for a NULL payload. */
int abi_dispatch_null_payload(int64_t handle, size_t payload_length, char* buffer, size_t capacity);

#ifdef __cplusplus
}
#endif
