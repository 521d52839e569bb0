// Numbered user-visible texts, formatted printf-style.
#pragma once

namespace zk {

// The format text of message `id`, or null when there is none.
const char* message_format(int id);

// Formats message `id` with the arguments into the next of four rotating
// 512-byte buffers and answers it, so up to four results stay valid at once.
// Longer results are cut. An unknown id answers an empty text.
const char* load_message(int id, ...);

// The product's name (message 8).
const char* product_name();

}  // namespace zk
