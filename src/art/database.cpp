#include "art/database.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/log.h"
#include "core/message.h"
#include "art/files.h"
#include "common/messages.h"
#include "isam/isam.h"
#include "platform/ui.h"

namespace zk {

namespace {

constexpr int kBuffers = 512;
constexpr int kOpenFiles = 20;
constexpr int kSectorsPerNode = 4;

void trace_op(const char* op, const Database* db) {
    if (log_on(Trace::trace)) log_write("%s (%s)", op, db->name.c_str());
}

// One line after every engine call.
void trace_engine(const Database* db, const char* label) {
    if (log_on(Trace::database)) log_write("%s, %s: %d, %d", db->name.c_str(), label, isam_error(), isam_error2());
}

std::string data_path(const Database* db) { return db->name + ".dat"; }
std::string index_path(const Database* db) { return db->name + ".idx"; }

std::string make_key(const Database* db, std::string_view key) {
    std::string k(db->key_length, '\0');
    std::memcpy(k.data(), key.data(), std::min(key.size(), k.size()));
    return k;
}

uint16_t next_file(const Database* db, const char* label) {
    isam_clear_error();
    uint16_t n = isam_available_file();
    trace_engine(db, label);
    return n;
}

// Whether the open files are the ones this handle describes; a file made
// with another record or key length cannot serve its callers' buffers.
bool files_fit(const Database* db) {
    IsamFileInfo data, index;
    if (isam_file_info(db->data_file, data) != 0 || isam_file_info(db->index_file, index) != 0) return false;
    return !data.index && index.index && data.record_length == db->record_length &&
           index.key_length == db->key_length;
}

void close_files(Database* db) {
    if (db->data_file != kIsamNoFile) {
        isam_close_file(db->data_file, 0);
        trace_engine(db, "CloseFile (data)");
        db->data_file = kIsamNoFile;
    }
    if (db->index_file != kIsamNoFile) {
        isam_close_file(db->index_file, 0);
        trace_engine(db, "CloseFile (index)");
        db->index_file = kIsamNoFile;
    }
}

// Creates both files empty. 0, or the engine error (-1 when no file number
// is free).
int create_files(Database* db) {
    uint16_t n = next_file(db, "AvailableFileNbr (data)");
    if (n == kIsamNoFile) return -1;
    int rc = isam_create_data_file(n, data_path(db).c_str(), db->record_length, db->data_extension, db->data_mode);
    trace_engine(db, "CreateDataFile");
    if (rc != 0) return rc;
    db->data_file = n;
    file_delete(index_path(db));
    n = next_file(db, "AvailableFileNbr (index)");
    if (n == kIsamNoFile) return -1;
    rc = isam_create_index_file(n, index_path(db).c_str(), db->key_length, db->key_type, 0, 0,
                                db->index_extension, db->index_mode);
    trace_engine(db, "CreateIndexFile");
    if (rc != 0) return rc;
    db->index_file = n;
    return 0;
}

// Throws both files away and makes them anew with the handle's parameters.
int recreate(Database* db) {
    if (db->data_file != kIsamNoFile) {
        int rc = isam_delete_file(db->data_file);
        trace_engine(db, "DeleteFile (data)");
        db->data_file = kIsamNoFile;
        if (rc != 0) return rc;
    } else {
        file_delete(data_path(db));
    }
    if (db->index_file != kIsamNoFile) {
        int rc = isam_delete_file(db->index_file);
        trace_engine(db, "DeleteFile (index)");
        db->index_file = kIsamNoFile;
        if (rc != 0) return rc;
    }
    return create_files(db);
}

[[noreturn]] void cannot_recover(int error) {
    message_box("%s", load_message(85, error, product_name()));
    log_close();
    std::_Exit(0);
}

// Any engine error in an operation: the user is told, the store starts
// over empty, and the operation answers 0.
void database_repair(Database* db, int error) {
    if (log_on(Trace::trace)) log_write("database_repair (%s)", db->name.c_str());
    message_box("%s", load_message(129, error, product_name()));
    if (int rc = recreate(db); rc != 0) cannot_recover(rc);
}

// An engine error in an operation is repaired, except another program
// holding the files: they are not damaged, and throwing them away would
// destroy a store in use. The operation then just fails.
void engine_failed(Database* db, int error) {
    if (error != isam_err_busy) database_repair(db, error);
}

// The key the records of `key` belong to.
IsamKey owner(const Database* db, const std::string& key) { return {key.data(), db->key_length}; }

// Finds the key. 1 with its position, 0 when absent; an engine error
// answers -1, repaired as above.
int lookup(Database* db, const std::string& key, IsamPos& pos) {
    pos = isam_get_key(db->index_file, key.data());
    trace_engine(db, "GetKey");
    if (pos != 0) return 1;
    if (int error = isam_error(); error != 0) {
        engine_failed(db, error);
        return -1;
    }
    return 0;
}

// Reads a found variable record: its length (0 when there is none to read)
// and, if it fits, its bytes. 1 read, 0 not there or too large, -1 failed.
int read_variable(Database* db, const std::string& key, IsamPos pos, size_t capacity, uint8_t* buffer,
                  uint32_t& length) {
    length = isam_vdata_length(db->data_file, pos, owner(db, key));
    trace_engine(db, "VDataLength");
    if (length == 0 || length > capacity) return 0;
    int rc = isam_read_vdata(db->data_file, pos, owner(db, key), buffer, length);
    trace_engine(db, "ReadVData");
    if (rc != 0) {
        engine_failed(db, isam_error());
        return -1;
    }
    return 1;
}

}  // namespace

bool database_init() {
    if (log_on(Trace::trace)) log_write("database_init");
    return isam_init(kBuffers, kOpenFiles, kSectorsPerNode) == 0;
}

Database* database_open(const std::string& name, int key_length, int record_length, int data_extension,
                        int index_extension, bool compress_keys, bool write_through) {
    if (log_on(Trace::trace)) log_write("database_open (%s)", name.c_str());
    auto* db = new (std::nothrow) Database;
    if (!db) return nullptr;
    db->fixed = record_length >= 1 ? 1 : 0;
    db->data_mode = kIsamPermanent | kIsamExclusive | (db->fixed ? 0 : kIsamVariable) |
                    (write_through ? kIsamWriteThrough : 0);
    db->index_mode = kIsamPermanent | kIsamExclusive | (write_through ? kIsamWriteThrough : 0);
    db->name = name;
    db->key_length = static_cast<uint16_t>(std::clamp(key_length, 1, int{kIsamMaxKey}));
    db->key_type = compress_keys ? kIsamKeyCompressed : kIsamKeyPlain;
    db->record_length = static_cast<int16_t>(std::clamp(record_length, 0, 32767));
    db->data_extension = static_cast<uint16_t>(std::clamp(data_extension, 0, 65535));
    db->index_extension = static_cast<uint16_t>(std::clamp(index_extension, 0, 65535));

    // A database in use must never look old to the disk-usage pass.
    file_touch(data_path(db));
    file_touch(index_path(db));

    int error = 0;
    uint16_t n = next_file(db, "AvailableFileNbr (data)");
    int rc = n == kIsamNoFile ? -1 : isam_open_file(n, data_path(db).c_str(), db->data_mode);
    if (n != kIsamNoFile) trace_engine(db, "OpenFile (data)");
    bool opened = false;
    if (rc == 0) {
        db->data_file = n;
        n = next_file(db, "AvailableFileNbr (index)");
        if (n == kIsamNoFile) {
            error = -1;
        } else {
            rc = isam_open_file(n, index_path(db).c_str(), db->index_mode);
            trace_engine(db, "OpenFile (index)");
            if (rc == 0) db->index_file = n;
            opened = rc == 0 && files_fit(db);
            if (!opened) close_files(db);
        }
    }
    // Held by another program: in use, not damaged, so never replaced.
    if (rc == isam_err_busy) error = rc;
    if (!opened && error == 0) {
        // Missing or unusable: both files start over, silently.
        file_delete(data_path(db));
        file_delete(index_path(db));
        error = create_files(db);
    }
    if (error != 0) {
        if (isam_error() != 0 && error != isam_err_busy) error = isam_error();
        close_files(db);
        delete db;
        message_box("%s", load_message(130, product_name(), error));
        if (ui_present()) ui().quit_loop();
        return nullptr;
    }
    return db;
}

void database_close(Database* db) {
    if (!db) return;
    trace_op("database_close", db);
    close_files(db);
    delete db;
}

int database_key_exists(Database* db, std::string_view key) {
    if (!db) return 0;
    trace_op("database_key_exists", db);
    IsamPos pos = 0;
    return lookup(db, make_key(db, key), pos) == 1 ? 1 : 0;
}

int database_fetch(Database* db, std::string_view key, void* buffer, size_t buffer_size, int* length) {
    if (!db || !buffer) return 0;
    trace_op("database_fetch", db);
    IsamPos pos = 0;
    const std::string k = make_key(db, key);
    if (lookup(db, k, pos) != 1) return 0;
    if (db->fixed) {
        if (buffer_size < static_cast<size_t>(db->record_length)) return 0;
        int rc = isam_read_data(db->data_file, pos, owner(db, k), buffer);
        trace_engine(db, "ReadData");
        if (rc != 0) {
            engine_failed(db, isam_error());
            return 0;
        }
        if (length) *length = db->record_length;
        return 1;
    }
    uint32_t size = 0;
    if (read_variable(db, k, pos, buffer_size, static_cast<uint8_t*>(buffer), size) != 1) return 0;
    if (length) *length = static_cast<int>(size);
    return 1;
}

int database_fetch_unknown(Database* db, std::string_view key, std::vector<uint8_t>& data) {
    data.clear();
    if (!db) return 0;
    trace_op("database_fetch_unknown", db);
    if (db->fixed) return 0;
    IsamPos pos = 0;
    const std::string k = make_key(db, key);
    if (lookup(db, k, pos) != 1) return 0;
    uint32_t size = isam_vdata_length(db->data_file, pos, owner(db, k));
    trace_engine(db, "VDataLength");
    if (size == 0) return 0;
    try {
        data.resize(size);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    int rc = isam_read_vdata(db->data_file, pos, owner(db, k), data.data(), size);
    trace_engine(db, "ReadVData");
    if (rc != 0) {
        data.clear();
        engine_failed(db, isam_error());
        return 0;
    }
    return 1;
}

namespace {

// The writes of one store inside a bracket the caller holds: the new
// record and the key become durable together, and the old record goes only
// after the key no longer points at it. -1 on an engine error, 0 when the
// store is refused before any write, 1 when written.
int write_record(Database* db, std::string_view key_text, const void* data, int length) {
    if (length > 0 && !data) return 0;
    if (!db->fixed && length > 0 && static_cast<uint32_t>(length) > kIsamMaxRecord) return 0;
    const std::string key = make_key(db, key_text);
    // Inside the bracket, so an error is repaired once, after the abort.
    const IsamPos old = isam_get_key(db->index_file, key.data());
    trace_engine(db, "GetKey");
    if (old == 0 && isam_error() != 0) return -1;
    if (!db->fixed && length <= 0 && old == 0) return 1;  // nothing to remove
    auto step = [&](int result, const char* label) {
        trace_engine(db, label);
        return result == 0;
    };
    bool fine = true;
    if (db->fixed) {
        std::string record(static_cast<size_t>(db->record_length), '\0');
        if (length > 0) std::memcpy(record.data(), data, std::min<size_t>(static_cast<size_t>(length), record.size()));
        IsamPos at = old;
        if (at == 0) {
            at = isam_new_data(db->data_file, owner(db, key));
            fine = step(at == 0 ? -1 : 0, "NewData");
        }
        fine = fine && step(isam_write_data(db->data_file, at, owner(db, key), record.data()), "WriteData");
        if (fine && old == 0) fine = step(isam_add_key(db->index_file, key.data(), at, 0), "AddKey");
    } else {
        IsamPos fresh = 0;
        if (length > 0) {
            fresh = isam_new_vdata(db->data_file, static_cast<uint32_t>(length), owner(db, key));
            fine = step(fresh == 0 ? -1 : 0, "NewVData") &&
                   step(isam_write_vdata(db->data_file, fresh, owner(db, key), data, static_cast<uint32_t>(length)),
                        "WriteVData");
        }
        if (fine && old != 0)
            fine = step(isam_release_vdata(db->data_file, old, owner(db, key)), "ReleaseVData") &&
                   step(isam_delete_key(db->index_file, key.data(), old), "DeleteKey");
        if (fine && length > 0) fine = step(isam_add_key(db->index_file, key.data(), fresh, 0), "AddKey");
    }
    return fine ? 1 : -1;
}

// One bracket around the writes; an engine error rolls them all back.
template <class Writes>
int store_bracket(Database* db, Writes writes) {
    int rc = isam_begin();
    trace_engine(db, "Begin");
    int result = rc == 0 ? writes() : -1;
    if (result >= 0) {
        rc = isam_commit();
        trace_engine(db, "Commit");
        if (rc != 0) result = -1;
    }
    if (result < 0) {
        int error = isam_error() != 0 ? isam_error() : -1;
        isam_abort();
        engine_failed(db, error);
        return 0;
    }
    return result;
}

}  // namespace

int database_store(Database* db, std::string_view key_text, const void* data, int length) {
    if (!db) return 0;
    trace_op("database_store", db);
    return store_bracket(db, [&] { return write_record(db, key_text, data, length); });
}

int database_store_all(Database* db, const std::vector<std::pair<std::string, std::string>>& records) {
    if (!db) return 0;
    if (records.empty()) return 1;
    trace_op("database_store", db);
    return store_bracket(db, [&] {
        int result = 1;
        for (const auto& [key, record] : records) {
            const int one = write_record(db, key, record.data(), static_cast<int>(record.size()));
            if (one < 0) return -1;
            result &= one;
        }
        return result;
    });
}

void database_reset(Database* db) {
    if (!db) return;
    trace_op("database_reset", db);
    if (int rc = recreate(db); rc != 0) cannot_recover(rc);
}

}  // namespace zk
