// Opening and closing the rendering library, and its last error.
#pragma once

namespace zk {

enum RenderError {
    render_ok = 0,
    render_error_not_open = 1,
    render_error_bad_device = 2,
    render_error_out_of_memory = 3,
    render_error_no_file = 4,       // a file could not be opened or read
    render_error_bad_shape = 5,     // a shape file is damaged
    render_error_too_large = 6,     // beyond the bounds of what is read
    render_error_bad_stream = 7,    // a stream or chunk is damaged
};

// Opens the library for a device; "MSWindows" is the one device there is
// (kept under that name so that callers and traces stay as they are).
bool render_open(const char* device);
void render_close();
bool render_is_open();

// The number of the last error (0 when none), shown as "reason %d".
int render_last_error();
void render_set_error(int error);

}  // namespace zk
