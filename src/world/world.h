// World entry, options and rights.
#pragma once

#include <cstdint>
#include <string>

namespace zk {

bool world_init();
int world_enter(const std::string& name, int mode);
void world_term();

// The current world's server, as the universe's look-up answered it
// (network byte order): 0 while not looked up, all ones when the world
// cannot be contacted.
uint32_t world_server_address();
uint16_t world_server_port();
// The attributes of the current world are known (from the cache or the
// server); an attribute read is queued or in flight.
bool world_attributes_known();
bool world_attributes_pending();
// Called by the world-server connection when the address is all ones.
void world_unable_to_contact();
// Attribute `index` as a text (the stored value or its default).
std::string world_attribute(int index);
// The current world's property directory, which holds its cell cache.
std::string world_property_directory();
// Whether the world's cache epoch changed at this entry (the cell cache is
// then emptied when it is opened).
bool world_epoch_changed();

}  // namespace zk
