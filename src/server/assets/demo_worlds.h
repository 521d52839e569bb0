// The demo worlds the server can run out of the box, shared by the asset
// generator (which encrypts one model per world) and the server (which
// seeds each world's objects, its enciphered object password, its ground and
// its backdrop).
#pragma once

#include <string_view>

namespace zk::server {

struct DemoWorld {
    std::string_view name;
    std::string_view object_password;  // the zip password of the world's secret model
    std::string_view secret_model;     // model whose archive member is encrypted
    std::string_view ground;           // the ground model the world names
    std::string_view backdrop;         // the texture shown as its sky
};

inline constexpr DemoWorld kDemoWorlds[] = {
    {"zk", "lanternfish", "chest", "ground", "sky"},
    {"lagoon", "tidepool", "chest", "ground", "sky"},
};

}  // namespace zk::server
