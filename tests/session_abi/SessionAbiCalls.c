#include "SessionAbiCalls.h"

#include "TavrikCore/Session/tavrik_session.h"

#include <stdlib.h>
#include <string.h>

int64_t abi_create(int allow_simulator)
{
    return tavrik_session_create(allow_simulator);
}

void abi_destroy(int64_t handle)
{
    tavrik_session_destroy(handle);
}

/* The response belongs to the host, which may work on it in place (as in-place JSON parsers do):
 * wipe it before handing it back. */
static void release_response(uint8_t* response, size_t length)
{
    memset(response, 0, length);
    tavrik_session_free(response);
}

static char* copy_response(uint8_t* response, size_t length)
{
    char* text = malloc(length + 1);
    if (text) {
        memcpy(text, response, length);
        text[length] = '\0';
    }
    release_response(response, length);
    return text;
}

char* abi_dispatch(int64_t handle, const char* action, size_t action_length, const uint8_t* payload, size_t payload_length)
{
    size_t length = 0;
    uint8_t* response
        = tavrik_session_dispatch(handle, (const uint8_t*)action, action_length, payload, payload_length, &length);
    if (!response) {
        return NULL;
    }
    return copy_response(response, length);
}

void abi_release(char* text)
{
    free(text);
}

static int copy_into(uint8_t* response, size_t length, char* buffer, size_t capacity)
{
    if (!response) {
        return 0;
    }
    size_t count = length < capacity - 1 ? length : capacity - 1;
    memcpy(buffer, response, count);
    buffer[count] = '\0';
    release_response(response, length);
    return 1;
}

int abi_dispatch_null_action(int64_t handle, size_t action_length, char* buffer, size_t capacity)
{
    size_t length = 0;
    uint8_t* response = tavrik_session_dispatch(handle, NULL, action_length, NULL, 0, &length);
    return copy_into(response, length, buffer, capacity);
}

int abi_dispatch_null_payload(int64_t handle, size_t payload_length, char* buffer, size_t capacity)
{
    static const char action[] = "{\"version\":1,\"action\":\"state\"}";
    size_t length = 0;
    uint8_t* response
        = tavrik_session_dispatch(handle, (const uint8_t*)action, sizeof action - 1, NULL, payload_length, &length);
    return copy_into(response, length, buffer, capacity);
}
