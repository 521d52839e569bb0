// Chained hash table with byte-string keys and a fixed-size value area per
// entry. The bucket count is chosen by the owner (a prime); iteration walks
// buckets from 0 upwards and, within a bucket, newest entry first. Several
// modules rely on that order ("the first entry met wins"), so it is part of
// the contract, not an accident of the implementation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zk {

// The bucket hash: h = T[(h ^ b) & 255] ^ (h >> 8), starting from 0.
uint32_t keyed_hash(const void* key, size_t length);

class KeyedTable {
public:
    struct Entry;

    // `buckets` must be at least 1; `value_size` bytes are reserved (zeroed)
    // in every entry for the owner's record.
    KeyedTable(uint32_t buckets, size_t value_size);
    ~KeyedTable();
    KeyedTable(const KeyedTable&) = delete;
    KeyedTable& operator=(const KeyedTable&) = delete;

    // Value area of the entry with this key, or null.
    void* find(const void* key, size_t length) const;
    // Value area of the entry with this key, added (zeroed) when missing.
    // `existed` (if given) tells which. Null only when memory runs out.
    void* find_or_add(const void* key, size_t length, bool* existed = nullptr);
    // True when an entry was removed.
    bool remove(const void* key, size_t length);
    // Removes every entry.
    void clear();

    size_t size() const { return count_; }
    uint32_t bucket_count() const { return buckets_; }
    size_t value_size() const { return value_size_; }

    // Walks the table in its defined order. The entry the iterator stands on
    // may be removed with remove_current() without disturbing the walk.
    class Iterator {
    public:
        explicit Iterator(KeyedTable& table);
        // Moves to the next entry; false at the end.
        bool next();
        void* value() const;
        const uint8_t* key() const;
        size_t key_length() const;
        void remove_current();

    private:
        KeyedTable& table_;
        uint32_t bucket_ = 0;
        bool started_ = false;
        bool removed_ = false;    // the entry stood on was removed
        Entry* current_ = nullptr;
        Entry** link_ = nullptr;  // the pointer that points at current_
    };

    // Convenience for typed value areas.
    template <class T> T* find_as(const void* key, size_t length) const {
        return static_cast<T*>(find(key, length));
    }
    template <class T> T* find_or_add_as(const void* key, size_t length, bool* existed = nullptr) {
        return static_cast<T*>(find_or_add(key, length, existed));
    }

private:
    friend class Iterator;
    Entry** locate(const void* key, size_t length) const;
    static void* value_of(Entry* e);
    static const uint8_t* key_of(Entry* e);

    Entry** table_;
    uint32_t buckets_;
    size_t value_size_;
    size_t count_ = 0;
};

}  // namespace zk
