// The keyed record engine: numbered files of records (data files) and of
// unique fixed-length keys pointing at record positions (index files).
//
// Each file is an SQLite database holding one table, locked against every
// other opener for as long as it is open. Every call sets the engine's error
// code (0 on success) and a secondary code (SQLite's extended result or the
// errno behind the failure). Between calls no journal file stays beside a
// file; after a crash the next open rolls back what was half done.
//
// Every record belongs to the key it was created for, and every call on a
// record names that key: a record found to belong to another key (an index
// that outlived its data, say) is damage, answered with isam_err_read and
// never handed out.
//
// Writes made between isam_begin() and isam_commit() become durable together
// per file, files committed in the order they were first written, and a
// variable record released inside such a bracket is removed from disk by one
// more commit after the bracket's. So a caller that writes the new record,
// then re-points the index, then releases the old record leaves, whatever
// moment the process dies at, the old or the new state, never a key that
// points at nothing. A power failure keeps that order for files in one
// directory: each commit is flushed before the next begins. Without
// write-through the last commits may then be missing (the files hold an
// earlier state); with write-through a commit is on disk when it returns.
//
// A file that another program holds locked is waited for a short while and
// then refused with isam_err_busy, which says nothing about the file's health.
#pragma once

#include <cstdint>

namespace zk {

using IsamPos = int64_t;  // a record's position; 0 means none

constexpr uint16_t kIsamNoFile = 65535;

// File modes. Files are always opened exclusively; "permanent" keeps the
// file open from open to close (the only way this engine keeps files).
constexpr uint16_t kIsamExclusive = 0x0000;
constexpr uint16_t kIsamShared = 0x0001;  // refused: one opener only
constexpr uint16_t kIsamPermanent = 0x0002;
constexpr uint16_t kIsamVariable = 0x0004;
constexpr uint16_t kIsamWriteThrough = 0x0040;

// Key types: plain fixed-length keys, or keys compressed at both ends. Both
// store the same bytes and answer the same; the compression is a hint.
constexpr uint16_t kIsamKeyPlain = 0;
constexpr uint16_t kIsamKeyCompressed = 12;

// The largest variable record and key the engine keeps.
constexpr uint32_t kIsamMaxRecord = 256u << 20;
constexpr uint16_t kIsamMaxKey = 1024;

enum IsamError : int {
    isam_ok = 0,
    isam_err_not_initialised = 101,  // isam_init not called, or files still open
    isam_err_file_number = 102,      // bad number, file not open, or the wrong kind of file
    isam_err_open = 103,             // missing or unreadable
    isam_err_not_engine_file = 104,  // not a database, damaged header, truncated, foreign schema
    isam_err_create = 105,
    isam_err_read = 106,             // damage met while reading
    isam_err_write = 107,
    isam_err_duplicate_key = 108,
    isam_err_key_missing = 109,
    isam_err_position = 110,         // no record at this position, or of another length
    isam_err_argument = 111,
    isam_err_delete = 112,
    isam_err_memory = 113,
    isam_err_commit = 114,
    isam_err_in_use = 115,           // file number already open, or a bracket already begun
    isam_err_busy = 116,             // locked by another opener for longer than the engine waits
};

// The key a record belongs to: `length` bytes (1 to kIsamMaxKey).
struct IsamKey {
    const void* bytes = nullptr;
    uint16_t length = 0;
};

// Sets the engine up: page cache buffers per file, room for `files` open
// files, sectors per index node (kept for the interface; SQLite pages serve
// as nodes). Answers 0 or an error. May be called again once every file is
// closed.
int isam_init(int buffers, int files, int sectors_per_node);

// The lowest file number not in use, or kIsamNoFile.
uint16_t isam_available_file();

int isam_open_file(uint16_t file, const char* path, uint16_t mode);
// Creates a new empty file; an existing file of that name is an error.
// `record_length` 0 or less means variable-length records.
int isam_create_data_file(uint16_t file, const char* path, int record_length, uint16_t extension,
                          uint16_t mode);
// Only `duplicates` 0 (unique keys) and `members` 0 are offered.
int isam_create_index_file(uint16_t file, const char* path, uint16_t key_length, uint16_t key_type,
                           uint16_t duplicates, uint16_t members, uint16_t extension, uint16_t mode);
int isam_close_file(uint16_t file, uint16_t mode);
// Closes an open file and removes it from disk.
int isam_delete_file(uint16_t file);

// What an open file was created with.
struct IsamFileInfo {
    bool index = false;
    int record_length = 0;  // data files: 0 for variable-length records
    uint16_t key_length = 0, key_type = 0;  // index files
    uint16_t extension = 0;
};
int isam_file_info(uint16_t file, IsamFileInfo& info);

// Position of the key's record; 0 when absent (error code 0) or on error.
IsamPos isam_get_key(uint16_t index, const void* key);
int isam_add_key(uint16_t index, const void* key, IsamPos pos, int mode);
int isam_delete_key(uint16_t index, const void* key, IsamPos pos);

// Fixed-length records.
IsamPos isam_new_data(uint16_t data, IsamKey owner);
int isam_read_data(uint16_t data, IsamPos pos, IsamKey owner, void* buffer);
int isam_write_data(uint16_t data, IsamPos pos, IsamKey owner, const void* buffer);

// Variable-length records.
IsamPos isam_new_vdata(uint16_t data, uint32_t length, IsamKey owner);
uint32_t isam_vdata_length(uint16_t data, IsamPos pos, IsamKey owner);  // 0 on error
// Reads the first `length` bytes of the record (at most its length).
int isam_read_vdata(uint16_t data, IsamPos pos, IsamKey owner, void* buffer, uint32_t length);
int isam_write_vdata(uint16_t data, IsamPos pos, IsamKey owner, const void* buffer, uint32_t length);
int isam_release_vdata(uint16_t data, IsamPos pos, IsamKey owner);

// Brackets a group of writes (see above). Not nested.
int isam_begin();
int isam_commit();
// Drops every write since isam_begin.
void isam_abort();

int isam_error();
int isam_error2();
void isam_clear_error();

}  // namespace zk
