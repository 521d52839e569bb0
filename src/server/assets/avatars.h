// The demo worlds' avatars: the registry of avatar types, three jointed
// figures drawn from boxes, and the sequences that move them (walking,
// waiting, stretching after a long wait, and two gestures).
#pragma once

#include <map>
#include <string>

namespace zk::server {

// avatars.dat: the registry text (version 0.3).
std::string avatar_registry();
// Figure name -> its .rwx text.
std::map<std::string, std::string> avatar_figures();
// Sequence name -> the bytes of its .seq file.
std::map<std::string, std::string> avatar_sequences();

}  // namespace zk::server
