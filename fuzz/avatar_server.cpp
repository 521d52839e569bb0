// Datagrams arriving at a world's avatar channel in zelnik-server, each
// through the function its loop calls, with the second's rounds of updates
// in between; what the channel sends is built and dropped.
//
// Input: records of a flag byte, a big-endian u16 length and that many
// datagram bytes (fewer at the end of the input).
// Flag bits 0-2: the sender's address (127.0.0.1-8; the even ones are
// public speakers); bit 3: its port (4000 or 4001); bits 4-7: time passing
// first, in steps of 700 ms.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "server/avatar_channel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zk::server::AvatarChannel channel;
    size_t sent = 0;
    channel.set_sender([&](uint32_t, uint16_t, const std::string& bytes) { sent += bytes.size(); });
    channel.set_speaker([](uint32_t address) { return (address & 1) == 0; });
    channel.set_admit([](uint32_t address) { return address != 0x7F000008u; });
    int64_t now = 0;
    for (size_t at = 0; at + 3 <= size;) {
        const uint8_t flags = data[at];
        const size_t length = std::min<size_t>((size_t{data[at + 1]} << 8) | data[at + 2], size - at - 3);
        const uint8_t* datagram = data + at + 3;
        at += 3 + length;
        now += (flags >> 4) * 700;
        channel.receive(0x7F000001u + (flags & 7), static_cast<uint16_t>(4000 + ((flags >> 3) & 1)), datagram, length,
                        now);
        channel.tick(now);
    }
    channel.tick(now + 1000);
    (void)sent;
    return 0;
}
