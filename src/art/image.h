// JPEG pictures converted to 8-bit palettised BMP files, a job at a time, in
// slices of the frame loop so that no frame waits for a whole picture.
#pragma once

#include <cstdint>
#include <string>

namespace zk {

// Bounds on what a JPEG from outside may cost us: its bytes, and the picture
// its header declares (checked before anything is allocated for it).
constexpr uint32_t kImageMaxBytes = 16u << 20;
constexpr int kImageMaxSide = 8192;
constexpr int64_t kImageMaxPixels = int64_t(4096) * 4096;

// status 0: the BMP file is complete; 1: the JPEG could not be converted and
// no file is left at the path.
using ImageCallback = void (*)(void* data, int status);

// Queues a conversion; the bytes and the path are copied. The callback always
// comes later, from image_update, never from here.
void image_convert(const uint8_t* jpeg, uint32_t length, const std::string& bmp_path, ImageCallback callback,
                   void* data);

// The "image" task: decodes for the frame's time budget, paying back
// earlier overspending.
void image_update();

// Drops every job without calling back, and the output being written.
void image_reset();
void image_term();

// Jobs not yet called back, and the time credit in ms (tests).
int image_queued();
int image_credit();

// Largest picture decoded, in pixels (0 restores kImageMaxPixels).
void image_set_pixel_limit(int64_t pixels);

// The millisecond clock the budget is measured on; null restores the
// system tick count.
void image_set_clock(uint32_t (*clock)());

}  // namespace zk
