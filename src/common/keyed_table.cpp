#include "common/keyed_table.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/bytes.h"

namespace zk {

namespace {

// 256 fixed constants below 2^31: the reflected table of a 31-bit CRC
// polynomial. Being a CRC table it is linear (T[a ^ b] = T[a] ^ T[b]), which
// lets the hash take four bytes a step with the same result as one at a time.
constexpr uint32_t kPolynomial = 0x76DC4190u >> 1 | 0x40000000u;

constexpr std::array<std::array<uint32_t, 256>, 4> make_hash_tables() {
    std::array<std::array<uint32_t, 256>, 4> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? (c >> 1) ^ kPolynomial : c >> 1;
        t[0][i] = c;
    }
    for (int s = 1; s < 4; ++s)
        for (uint32_t i = 0; i < 256; ++i) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 255u];
    return t;
}

constexpr auto kHashTables = make_hash_tables();
static_assert(kPolynomial < 0x80000000u);

constexpr size_t kAlign = alignof(std::max_align_t);

constexpr size_t round_up(size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

}  // namespace

struct KeyedTable::Entry {
    Entry* next;
    size_t key_length;
    size_t value_size;
    // followed by the value area (aligned), then the key bytes
};

uint32_t keyed_hash(const void* key, size_t length) {
    const auto* p = static_cast<const uint8_t*>(key);
    const auto& t = kHashTables;
    uint32_t h = 0;
    // h = T[(h ^ b) & 255] ^ (h >> 8) for each byte b, four bytes a step.
    for (; length >= 4; length -= 4, p += 4) {
        h ^= load_le32(p);
        h = t[3][h & 255u] ^ t[2][(h >> 8) & 255u] ^ t[1][(h >> 16) & 255u] ^ t[0][h >> 24];
    }
    for (; length; --length, ++p) h = t[0][(h ^ *p) & 255u] ^ (h >> 8);
    return h;
}

KeyedTable::KeyedTable(uint32_t buckets, size_t value_size)
    : buckets_(buckets == 0 ? 1 : buckets), value_size_(value_size) {
    table_ = new Entry*[buckets_]();
}

KeyedTable::~KeyedTable() {
    clear();
    delete[] table_;
}

void* KeyedTable::value_of(Entry* e) {
    return reinterpret_cast<uint8_t*>(e) + round_up(sizeof(Entry));
}

const uint8_t* KeyedTable::key_of(Entry* e) {
    return reinterpret_cast<const uint8_t*>(e) + round_up(sizeof(Entry)) + round_up(e->value_size);
}

KeyedTable::Entry** KeyedTable::locate(const void* key, size_t length) const {
    Entry** link = &table_[keyed_hash(key, length) % buckets_];
    while (*link) {
        Entry* e = *link;
        if (e->key_length == length && (length == 0 || std::memcmp(key_of(e), key, length) == 0))
            return link;
        link = &e->next;
    }
    return link;
}

void* KeyedTable::find(const void* key, size_t length) const {
    Entry** link = locate(key, length);
    return *link ? value_of(*link) : nullptr;
}

void* KeyedTable::find_or_add(const void* key, size_t length, bool* existed) {
    Entry** link = locate(key, length);
    if (*link) {
        if (existed) *existed = true;
        return value_of(*link);
    }
    if (existed) *existed = false;
    const size_t bytes = round_up(sizeof(Entry)) + round_up(value_size_) + length;
    auto* e = static_cast<Entry*>(std::calloc(1, bytes));
    if (!e) return nullptr;
    e->key_length = length;
    e->value_size = value_size_;
    if (length) std::memcpy(const_cast<uint8_t*>(key_of(e)), key, length);
    // Newest first within its bucket.
    Entry** head = &table_[keyed_hash(key, length) % buckets_];
    e->next = *head;
    *head = e;
    ++count_;
    return value_of(e);
}

bool KeyedTable::remove(const void* key, size_t length) {
    Entry** link = locate(key, length);
    Entry* e = *link;
    if (!e) return false;
    *link = e->next;
    std::free(e);
    --count_;
    return true;
}

void KeyedTable::clear() {
    for (uint32_t b = 0; b < buckets_; ++b) {
        Entry* e = table_[b];
        while (e) {
            Entry* n = e->next;
            std::free(e);
            e = n;
        }
        table_[b] = nullptr;
    }
    count_ = 0;
}

KeyedTable::Iterator::Iterator(KeyedTable& table) : table_(table) {}

bool KeyedTable::Iterator::next() {
    if (!started_) {
        started_ = true;
        bucket_ = 0;
        link_ = &table_.table_[0];
    } else if (bucket_ >= table_.buckets_) {
        return false;
    } else if (!removed_ && current_) {
        link_ = &current_->next;
    }
    // After a removal link_ already points at the link of the follower.
    removed_ = false;
    current_ = *link_;
    while (!current_) {
        if (++bucket_ >= table_.buckets_) return false;
        link_ = &table_.table_[bucket_];
        current_ = *link_;
    }
    return true;
}

void* KeyedTable::Iterator::value() const { return current_ ? value_of(current_) : nullptr; }
const uint8_t* KeyedTable::Iterator::key() const { return current_ ? key_of(current_) : nullptr; }
size_t KeyedTable::Iterator::key_length() const { return current_ ? current_->key_length : 0; }

void KeyedTable::Iterator::remove_current() {
    if (!current_) return;
    *link_ = current_->next;
    std::free(current_);
    --table_.count_;
    current_ = nullptr;
    removed_ = true;
}

}  // namespace zk
