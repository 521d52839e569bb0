// Datagrams arriving at the browser's avatar channel, each handed to the
// function the receive loop calls, with frames in between (figures made,
// advanced and dropped, resends due) and the universe's answers to who is
// at an address.
//
// Input: records of a flag byte, a big-endian u16 length and that many
// datagram bytes (fewer at the end of the input).
// Flag bits 0-1: the sender (0 the world server, 1 another browser, 2 the
// server's address on another port, 3 a fourth address); bit 2: a frame
// passes first; bit 3: the universe names the sender afterwards; bit 4: the
// sender's address is muted or unmuted afterwards.
#include <arpa/inet.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "people/avatar.h"

namespace {

uint32_t g_frame = 1000;

uint32_t sender_address(int who) { return htonl(0x7F000001u + (who == 1 ? 1 : who == 3 ? 2 : 0)); }
uint16_t sender_port(int who) { return htons(who == 2 ? 3001 : 3000); }

int setup() {
    zk::AvatarPorts& p = zk::avatar_ports();
    p.frame_now = [] { return g_frame; };
    p.now = [] { return g_frame * 3; };
    p.server_address = [] { return sender_address(0); };
    p.server_port = [] { return sender_port(0); };
    p.world_entered = [] { return true; };
    p.whos_at = [](const uint8_t*) { return 0; };
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int once = setup();
    (void)once;
    // No socket: what the channel would send goes nowhere. The built-in
    // avatar type makes figures.
    zk::avatar_reload_list();
    for (size_t at = 0; at + 3 <= size;) {
        const uint8_t flags = data[at];
        const size_t length = std::min<size_t>((size_t{data[at + 1]} << 8) | data[at + 2], size - at - 3);
        const uint8_t* datagram = data + at + 3;
        at += 3 + length;
        const int who = flags & 3;
        if (flags & 4) {
            g_frame += 700;
            zk::avatar_update();
        }
        zk::avatar_receive(datagram, length, sender_address(who), sender_port(who));
        uint32_t address = sender_address(who);
        if (flags & 8) zk::avatar_whos_at_reply(reinterpret_cast<const uint8_t*>(&address), 0, "Bob");
        if (flags & 16) zk::avatar_toggle_mute(address);
    }
    zk::avatar_update();
    zk::avatar_term();
    return 0;
}
