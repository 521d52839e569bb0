// Help: pages shipped inside the program, written out to help/ in the
// program directory and opened in a web browser.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace zk {

// A page as the build compiled it in from the help/ folder.
struct HelpPage {
    const char* name;  // "index.html"
    const unsigned char* bytes;
    size_t size;
};
std::span<const HelpPage> help_pages();

// Writes the pages that are missing or differ under `program_dir`/help and
// answers the address of the contents page ("" when they could not be
// written).
std::string help_write_pages(const std::string& program_dir);
// Help > Topics: shows the contents page.
void help_show();

}  // namespace zk
