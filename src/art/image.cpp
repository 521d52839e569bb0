#include "art/image.h"

// jpeglib.h needs FILE and size_t declared first.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "core/log.h"
#include "platform/os.h"

namespace zk {
namespace {

constexpr int kStepLines = 16;        // scan lines decoded in one step
constexpr int kMaxScans = 32;         // progressive files need about 10; each scan walks the whole picture
constexpr long kMaxDecoderMemory = 192L << 20;  // above what the pixel limit needs
constexpr int64_t kMaxDebt = -500;
constexpr uint32_t kHeaderBytes = 14 + 40 + 256 * 4;

struct Job {
    std::vector<uint8_t> bytes;
    std::string path;
    ImageCallback callback = nullptr;
    void* data = nullptr;
};

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

// The job at the head of the queue while it is being decoded. libjpeg's
// callbacks reach it through these globals; the frame loop owns them.
struct Decoder {
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    jpeg_source_mgr src{};
    jpeg_progress_mgr progress{};
    bool created = false;
    FILE* out = nullptr;
    std::string part;              // the output's name until it is complete
    std::vector<uint8_t> body;     // the BMP's pixel rows, bottom row first, padded
    uint32_t stride = 0;
    uint8_t palette[256 * 4];      // blue, green, red, 0; libjpeg frees its own at the end
};

std::deque<std::unique_ptr<Job>> g_queue;
std::vector<std::unique_ptr<Job>> g_refused;  // too large to decode; failed at the next update
Decoder g_dec;
bool g_idle = true;
bool g_running = false;
int64_t g_credit = 0;
int64_t g_max_pixels = kImageMaxPixels;
uint32_t (*g_clock)() = os_tick_count;

[[noreturn]] void decoder_fail(j_common_ptr c) {
    std::longjmp(reinterpret_cast<ErrorManager*>(c->err)->jump, 1);
}

// Warnings stay silent; the ones that mean the picture's data are damaged or
// cut short end the job, so that it never becomes a half-grey texture.
void decoder_message(j_common_ptr c, int level) {
    if (level >= 0) return;
    switch (c->err->msg_code) {
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_MUST_RESYNC:
            decoder_fail(c);
        default:
            c->err->num_warnings++;
    }
}

void decoder_output(j_common_ptr) {}

// Called while a multi-scan file is read in: a scan costs a walk over every
// block whatever its size in bytes, so their number is bounded.
void decoder_progress(j_common_ptr c) {
    if (reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > kMaxScans) decoder_fail(c);
}

// The memory source: the whole job at once, then end-of-image markers for
// ever, so that a cut file ends instead of reading past its bytes.
void source_init(j_decompress_ptr c) {
    const Job& job = *g_queue.front();
    c->src->next_input_byte = job.bytes.data();
    c->src->bytes_in_buffer = job.bytes.size();
}

boolean source_fill(j_decompress_ptr c) {
    static const JOCTET eoi[2] = {0xFF, JPEG_EOI};
    c->src->next_input_byte = eoi;
    c->src->bytes_in_buffer = sizeof eoi;
    return TRUE;
}

void source_skip(j_decompress_ptr c, long count) {
    jpeg_source_mgr* s = c->src;
    if (count <= 0) return;
    const size_t n = static_cast<size_t>(count) < s->bytes_in_buffer ? static_cast<size_t>(count) : s->bytes_in_buffer;
    s->next_input_byte += n;
    s->bytes_in_buffer -= n;
}

void source_term(j_decompress_ptr) {}

// Drops the decoder and the partial output: back to idle.
void discard_decoder() {
    if (g_dec.created) jpeg_destroy_decompress(&g_dec.cinfo);
    g_dec.created = false;
    if (g_dec.out) {
        std::fclose(g_dec.out);
        std::remove(g_dec.part.c_str());
    }
    g_dec.out = nullptr;
    std::vector<uint8_t>().swap(g_dec.body);
    g_idle = true;
}

// Takes the head job off the queue before calling back, so that the callback
// may queue, reset or end as it likes.
void finish_job(int status) {
    std::unique_ptr<Job> job = std::move(g_queue.front());
    g_queue.pop_front();
    if (job->callback) job->callback(job->data, status);
}

// Returns false: a failed job ends the frame's decoding.
bool fail_job() {
    discard_decoder();
    finish_job(1);
    return false;
}

bool size_acceptable(const jpeg_decompress_struct& c) {
    return c.image_width >= 1 && c.image_height >= 1 && c.image_width <= kImageMaxSide &&
           c.image_height <= kImageMaxSide && int64_t(c.image_width) * c.image_height <= g_max_pixels;
}

bool start_job() {
    Decoder& d = g_dec;
    d.part = g_queue.front()->path + ".part";
    d.out = std::fopen(d.part.c_str(), "wb");
    if (!d.out) return fail_job();
    jpeg_decompress_struct& c = d.cinfo;
    c.err = jpeg_std_error(&d.err.pub);
    d.err.pub.error_exit = decoder_fail;
    d.err.pub.emit_message = decoder_message;
    d.err.pub.output_message = decoder_output;
    if (setjmp(d.err.jump)) return fail_job();
    jpeg_create_decompress(&c);
    d.created = true;
    c.mem->max_memory_to_use = kMaxDecoderMemory;
    d.src.init_source = source_init;
    d.src.fill_input_buffer = source_fill;
    d.src.skip_input_data = source_skip;
    d.src.resync_to_restart = jpeg_resync_to_restart;
    d.src.term_source = source_term;
    c.src = &d.src;
    d.progress.progress_monitor = decoder_progress;
    c.progress = &d.progress;
    jpeg_read_header(&c, TRUE);
    if (!size_acceptable(c)) return fail_job();
    if (c.jpeg_color_space == JCS_GRAYSCALE && c.num_components == 1) {
        c.out_color_space = JCS_GRAYSCALE;
    } else if (c.num_components == 3 && (c.jpeg_color_space == JCS_YCbCr || c.jpeg_color_space == JCS_RGB)) {
        c.out_color_space = JCS_RGB;
        c.quantize_colors = TRUE;
        c.two_pass_quantize = TRUE;
        c.desired_number_of_colors = 256;
    } else {
        return fail_job();  // CMYK and the like have no place in a texture
    }
    jpeg_start_decompress(&c);
    if (c.output_components != 1 || c.output_width != c.image_width || c.output_height != c.image_height)
        return fail_job();
    std::memset(d.palette, 0, sizeof d.palette);
    for (int i = 0; i < 256; ++i) {
        uint8_t* e = d.palette + 4 * i;
        if (!c.quantize_colors) {
            e[0] = e[1] = e[2] = uint8_t(i);
        } else if (i < c.actual_number_of_colors) {
            e[0] = c.colormap[2][i];
            e[1] = c.colormap[1][i];
            e[2] = c.colormap[0][i];
        }
    }
    d.stride = (c.output_width + 3) & ~3u;
    d.body.assign(size_t(d.stride) * c.output_height, 0);
    g_idle = false;
    return true;
}

// 8 bits a pixel with a 256-entry table (blue, green, red, 0), rows bottom-up.
bool write_bmp() {
    const jpeg_decompress_struct& c = g_dec.cinfo;
    uint8_t h[kHeaderBytes] = {};
    auto put32 = [&h](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) h[at + i] = uint8_t(v >> (8 * i));
    };
    const auto body = static_cast<uint32_t>(g_dec.body.size());
    h[0] = 'B';
    h[1] = 'M';
    put32(2, kHeaderBytes + body);
    put32(10, kHeaderBytes);
    put32(14, 40);
    put32(18, c.output_width);
    put32(22, c.output_height);
    h[26] = 1;  // planes
    h[28] = 8;  // bits per pixel
    put32(34, body);
    put32(38, 2835);  // 72 dots per inch
    put32(42, 2835);
    put32(46, 256);
    std::memcpy(h + 54, g_dec.palette, sizeof g_dec.palette);
    return std::fwrite(h, 1, sizeof h, g_dec.out) == sizeof h &&
           std::fwrite(g_dec.body.data(), 1, body, g_dec.out) == body;
}

bool decode_step() {
    Decoder& d = g_dec;
    jpeg_decompress_struct& c = d.cinfo;
    if (setjmp(d.err.jump)) return fail_job();
    if (c.output_scanline < c.output_height) {
        JSAMPROW rows[kStepLines];
        const JDIMENSION first = c.output_scanline;
        const JDIMENSION n = c.output_height - first < JDIMENSION(kStepLines) ? c.output_height - first : kStepLines;
        for (JDIMENSION i = 0; i < n; ++i) rows[i] = &d.body[size_t(c.output_height - 1 - first - i) * d.stride];
        for (JDIMENSION got = 0; got < n;) {
            const JDIMENSION r = jpeg_read_scanlines(&c, rows + got, n - got);
            if (r == 0) return fail_job();
            got += r;
        }
        return true;
    }
    jpeg_finish_decompress(&c);
    const bool written = write_bmp();
    jpeg_destroy_decompress(&c);
    d.created = false;
    const bool closed = std::fclose(d.out) == 0;
    d.out = nullptr;
    const std::string& path = g_queue.front()->path;
    if (!written || !closed || std::rename(d.part.c_str(), path.c_str()) != 0) {
        std::remove(d.part.c_str());
        return fail_job();
    }
    discard_decoder();
    finish_job(0);
    return true;
}

// Their callbacks may queue more: those wait for the next update.
void fail_refused() {
    std::vector<std::unique_ptr<Job>> refused;
    refused.swap(g_refused);
    for (const auto& job : refused)
        if (job->callback) job->callback(job->data, 1);
}

}  // namespace

void image_convert(const uint8_t* jpeg, uint32_t length, const std::string& bmp_path, ImageCallback callback,
                   void* data) {
    auto job = std::make_unique<Job>();
    job->path = bmp_path;
    job->callback = callback;
    job->data = data;
    if (length > kImageMaxBytes || (!jpeg && length)) {
        g_refused.push_back(std::move(job));
        return;
    }
    if (length) job->bytes.assign(jpeg, jpeg + length);
    g_queue.push_back(std::move(job));
}

void image_update() {
    if (g_running) return;  // a callback that runs a frame of its own
    g_running = true;
    fail_refused();
    const size_t queued = g_queue.size();
    const int64_t budget = queued < 10 ? 70 : queued < 20 ? 140 : 210;
    if (g_credit < 0) {
        g_credit = (g_credit < kMaxDebt ? kMaxDebt : g_credit) + budget;
    } else if (g_credit < budget) {
        g_credit = budget;
    }
    if (g_credit >= 0 && !g_queue.empty()) {
        const uint32_t start = g_clock();
        uint32_t now = start;
        bool going = true;
        while (going && !g_queue.empty() && int64_t(now - start) < g_credit) {
            going = g_idle ? start_job() : decode_step();
            now = g_clock();
        }
        g_credit -= int64_t(now - start);
    }
    g_running = false;
}

void image_reset() {
    if (log_on(Trace::trace)) log_write("image_reset");
    discard_decoder();
    g_queue.clear();
    g_refused.clear();
    g_credit = 0;
}

void image_term() {
    if (log_on(Trace::trace)) log_write("image_term");
    discard_decoder();
    g_queue.clear();
    g_refused.clear();
}

int image_queued() { return static_cast<int>(g_queue.size() + g_refused.size()); }

int image_credit() { return static_cast<int>(g_credit); }

void image_set_pixel_limit(int64_t pixels) { g_max_pixels = pixels > 0 ? pixels : kImageMaxPixels; }

void image_set_clock(uint32_t (*clock)()) { g_clock = clock ? clock : os_tick_count; }

}  // namespace zk
