#include "net/resolve.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/log.h"

namespace zk {

namespace {

struct Request {
    uint64_t id;
    std::string name;
};

struct Answer {
    uint64_t id;
    bool ok;
    uint32_t address;  // network order when ok
};

// Shared with the worker. A worker stuck in the system resolver at shutdown
// is left to finish on its own; it keeps this alive until then.
struct Channel {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Request> todo;
    std::deque<Answer> done;
    bool stop = false;
    bool busy = false;
};

struct Waiter {
    uint32_t* address;
    bool cancelled;
};

struct HostEntry {
    std::string name;
    bool done = false;
    uint32_t address = 0;
    std::vector<Waiter> waiters;
    uint64_t request = 0;  // outstanding look-up
    int retries = 0;
};

std::shared_ptr<Channel> g_channel;
std::thread g_worker;
// Newest first; entries live until resolve_term.
std::list<HostEntry> g_cache;
uint64_t g_next_request = 1;
int g_next_handle = 1;
int g_lookups = 0;

void worker_main(std::shared_ptr<Channel> ch) {
    std::unique_lock<std::mutex> lock(ch->mutex);
    for (;;) {
        ch->wake.wait(lock, [&] { return ch->stop || !ch->todo.empty(); });
        if (ch->stop) return;
        Request req = std::move(ch->todo.front());
        ch->todo.pop_front();
        ch->busy = true;
        lock.unlock();

        Answer answer{req.id, false, 0};
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        if (::getaddrinfo(req.name.c_str(), nullptr, &hints, &list) == 0) {
            for (addrinfo* a = list; a; a = a->ai_next) {
                if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
                    answer.address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
                    answer.ok = true;
                    break;
                }
            }
            ::freeaddrinfo(list);
        }

        lock.lock();
        ch->busy = false;
        if (ch->stop) return;
        ch->done.push_back(answer);
    }
}

// Hands a look-up to the worker; false when there is none.
bool start_lookup(HostEntry& entry) {
    if (!g_channel) return false;
    entry.request = g_next_request++;
    {
        std::lock_guard<std::mutex> lock(g_channel->mutex);
        g_channel->todo.push_back({entry.request, entry.name});
    }
    g_channel->wake.notify_one();
    ++g_lookups;
    return true;
}

}  // namespace

int resolve_init() {
    if (log_on(Trace::trace)) log_write("resolve_init");
    if (g_channel) return 0;
    auto ch = std::make_shared<Channel>();
    try {
        g_worker = std::thread(worker_main, ch);
    } catch (...) {
        return 1;
    }
    g_channel = std::move(ch);
    g_lookups = 0;
    return 0;
}

int resolve(const std::string& name, uint32_t* address) {
    if (log_on(Trace::trace)) log_write("resolve (%s)", name.c_str());
    in_addr dotted{};
    if (!name.empty() && ::inet_aton(name.c_str(), &dotted)) {
        *address = dotted.s_addr;
        return 0;
    }
    *address = 0;
    for (HostEntry& entry : g_cache) {
        if (entry.name != name) continue;
        if (entry.done) {
            *address = entry.address;
            return 0;
        }
        entry.waiters.push_back({address, false});
        return g_next_handle++;
    }
    g_cache.emplace_front();
    HostEntry& entry = g_cache.front();
    entry.name = name;
    entry.waiters.push_back({address, false});
    if (!start_lookup(entry)) {
        g_cache.pop_front();
        *address = resolve_failed;
        return 0;
    }
    return g_next_handle++;
}

void resolve_poll() {
    if (!g_channel) return;
    std::deque<Answer> answers;
    {
        std::lock_guard<std::mutex> lock(g_channel->mutex);
        answers.swap(g_channel->done);
    }
    for (const Answer& answer : answers) {
        HostEntry* entry = nullptr;
        for (HostEntry& e : g_cache) {
            if (!e.done && e.request == answer.id) {
                entry = &e;
                break;
            }
        }
        if (!entry) continue;
        uint32_t result = answer.address;
        if (!answer.ok) {
            ++entry->retries;
            if (entry->retries < resolve_tries && start_lookup(*entry)) continue;
            result = resolve_failed;
        }
        entry->address = result;
        entry->done = true;
        entry->request = 0;
        for (const Waiter& w : entry->waiters)
            if (!w.cancelled) *w.address = result;
        entry->waiters.clear();
        entry->waiters.shrink_to_fit();
    }
}

void resolve_term() {
    if (log_on(Trace::trace)) log_write("resolve_term");
    if (g_channel) {
        bool busy;
        {
            std::lock_guard<std::mutex> lock(g_channel->mutex);
            g_channel->stop = true;
            g_channel->todo.clear();
            busy = g_channel->busy;
        }
        g_channel->wake.notify_all();
        // A look-up in progress cannot be interrupted; its thread ends by
        // itself when the system resolver returns.
        if (busy)
            g_worker.detach();
        else
            g_worker.join();
        g_channel.reset();
    }
    g_cache.clear();
}

int resolve_lookups_started() { return g_lookups; }

}  // namespace zk
