// The world server connection.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zk {

void prop_init();
void prop_update();
void prop_term();

// Closes the connection and drops every queued request (world entry).
void prop_reset();
bool prop_query_outstanding();

// The attribute read's callback: (body, length, 0) on success, (null, 0, 1)
// when the server refuses entry, (null, 0, code) for any other status.
using PropAttributesCallback = void (*)(const uint8_t* body, size_t length, int code);
// Queue an attribute read / write; 0 when queued, 1 when not.
int prop_attributes_get(PropAttributesCallback callback);
int prop_attributes_set(const uint8_t* list, size_t length);

}  // namespace zk
