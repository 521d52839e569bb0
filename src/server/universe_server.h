// The universe server: citizens, logins, the list of running worlds, the
// build check and telegrams.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/citizens.h"
#include "server/password.h"
#include "server/service.h"
#include "server/worker_pool.h"

namespace zk::server {

struct UniverseConfig {
    uint32_t minimum_build = 162;
    uint32_t current_build = 162;
    bool beta = false;
    // Password hashing runs on worker threads (0: on the loop's thread at
    // once, for fuzzing only), with new hashes of this strength.
    unsigned hash_threads = 1;
    int hash_iterations = kPasswordIterations;
    // Hashes queued or running for every client together, and for one address.
    size_t max_queued_hashes = 64;
    int hashes_in_flight_per_address = 4;
    // An address may ask for this many hashes at once, then one more for
    // each refill period (0: none more).
    int login_burst = 16;
    int64_t login_refill_ms = 1000;
};

class UniverseServer : public Service {
public:
    UniverseServer(Citizens& citizens, UniverseConfig config);

    // A running world that look-ups and the world list answer.
    void add_world(const std::string& name, uint32_t address, uint16_t port);
    // Who stands behind an avatar identifier (the avatar channel fills it).
    // Whether a citizen is logged in from that address (host order).
    bool logged_in(uint32_t citizen, uint32_t address);
    // The name of the citizen who logged in last from that address (host
    // order), if any.
    std::optional<std::string> name_at(uint32_t address);
    void set_whos_at(std::function<std::optional<std::string>(uint32_t)> fn) { whos_at_ = std::move(fn); }

    static constexpr size_t kMaxFrame = 1024;
    // Answer to a request refused for the hashing limits: try again later.
    static constexpr uint8_t kTryLater = 120;
    // A client refused more often than this is disconnected.
    static constexpr int kMaxRefusals = 8;

    // Requests of a code handled so far (any thread may read it).
    uint64_t request_count(uint8_t code) const { return counts_[code].load(); }

protected:
    void on_data(Client& c) override;
    void on_close(Client& c) override;
    void on_wake() override { hashing_.finish(); }

private:
    struct Session {
        uint32_t citizen = 0;
        std::string name;
        int refused = 0;
    };
    struct AddressLimit {
        int tokens = 0;
        int64_t refilled_ms = 0;
        int in_flight = 0;
    };
    // What to do on the loop with a hash's result, for its client.
    using Then = std::function<void(Client&)>;
    struct World {
        std::string name;
        uint32_t address;
        uint16_t port;
    };

    // Handles one request; false when it was malformed.
    bool handle(Client& c, uint8_t code, const uint8_t* payload, size_t length);
    void reply(Client& c, uint8_t code, uint8_t rc, const std::string& payload = {});
    const World* find_world(const std::string& name) const;
    // Runs `work` (which hashes, and touches only what it captured) on a
    // worker, then what it answers on the loop if `c` is still connected;
    // `c`'s later requests wait until then. Over the limits `c` gets reply
    // `code` with kTryLater instead.
    void off_loop(Client& c, uint8_t code, std::function<Then()> work);
    // Checks a password against `who`'s stored hash off the loop; `then` gets
    // 0 and the citizen as stored now, or 3 / 13.
    void authenticate(Client& c, uint8_t code, const Citizen& who, const std::string& password,
                      std::function<void(Client&, int, const Citizen&)> then);
    // Takes one hash from the address's allowance; false when spent.
    bool take_hash(uint32_t address);
    void refuse(Client& c, uint8_t code);
    void notify_telegram(uint32_t citizen);

    Citizens& citizens_;
    UniverseConfig config_;
    std::vector<World> worlds_;
    std::map<uint64_t, Session> sessions_;
    std::function<std::optional<std::string>(uint32_t)> whos_at_;
    std::array<std::atomic<uint64_t>, 256> counts_{};
    std::unordered_map<uint32_t, AddressLimit> limits_;
    WorkerPool hashing_;  // last: its workers stop before the rest goes
};

}  // namespace zk::server
