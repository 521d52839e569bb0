// Signs: text drawn onto the faces of an object's model that carry the sign
// tag (100) and have four corners.
//
// Each model instance has at most one sign job; jobs wait in a queue and
// are drawn one every 500 ms. A drawn sign stays with its instance: a
// replacement clump shows it again (or, when nothing was drawn yet, the job
// is queued once more), and it goes with the instance (bind
// sign_instance_replaced and sign_instance_released to the model hooks).
// Text is measured and drawn through the window-system port (ui.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zk {

struct object;
struct model_ref;
struct RwTexture;

// A sign's bitmap is at most about this many pixels before its margins.
constexpr int64_t kSignMaxPixels = 131072;
// ... and this many pixels high, whatever the face's shape.
constexpr int kSignMaxHeight = 4096;
constexpr uint32_t kSignInterval = 500;  // ms between two jobs

// Makes the sign font once (through the window-system port when present).
void sign_init();
void sign_update();                 // the task "sign": sign_step(tick_now())
void sign_step(uint32_t now);
// The colour table (case-insensitive names), else hexadecimal RRGGBB, else
// black. 0xRRGGBB.
uint32_t sign_color(std::string_view text);
// Queues a sign job on the object's model instance (its previous text, if
// still waiting, is replaced).
void sign_queue(object* o, const std::string& text, uint32_t color, uint32_t background);

// The texture of a sign on a face whose first and third corners are given
// (x, y, z each): a two-colour 8-bit bitmap, index 0 the background and 1
// the text. Null for a face without height or without a font. The caller
// holds the one reference.
RwTexture* sign_texture(const std::string& text, uint32_t color, uint32_t background, const float first[3],
                        const float third[3]);

// The model hooks' side of signs.
void sign_instance_replaced(model_ref* instance);
void sign_instance_released(model_ref* instance);

// Jobs waiting in the queue (tests).
size_t sign_queued();

}  // namespace zk
