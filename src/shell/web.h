// The web pane: pages in a pane right of the 3D view or, while it is
// closed, in the user's own web browser. Links to the teleport scripts of
// the universe's web site become teleports instead of pages.
#pragma once

#include <string>

namespace zk {

// Teleport links are honoured under /cgi-bin/ of two hosts at any port:
// the universe host ([universe] host), whose zelnik-server serves the worlds
// page, and this public one.
constexpr const char* kWebPublicCgiHost = "www.zelnik.net";
// The worlds page, under the universe host.
constexpr const char* kWebWorldsPath = "misc/zk.htm";

// web_init reads [show] web: the pane starts shown only when it is 1 (a
// missing key keeps it closed, so that a first start does not load the web
// engine).
void web_init();
// Task "web": a pending navigation, and the end of a running one.
void web_update();
void web_term();

// Show Web (130), Back, Forward, Stop, Refresh (134-137), Open... (138) and
// Worlds (139).
void web_command(int command);
bool web_shown();

// An address for the user: in the pane when it is shown, else in the
// external browser unless a create clause asked (never started by a world
// on its own); remembered either way. Empty does nothing.
void web_open(const std::string& address, bool from_create);
// The program's own pages (help) in the pane: false when the pane is
// hidden. Links between pages of the same folder are followed too.
bool web_show_local(const std::string& address);

enum class WebVerdict { allow, refuse };
// Asked by the pane before it follows a navigation. `user_clicked`: the
// user clicked a link of the page's main frame (a page that navigates by
// itself never teleports the user). Frames other than the main one only get
// the safety checks and change nothing here.
WebVerdict web_navigation(const std::string& address, bool user_clicked, bool main_frame = true);
// The pane's status texts (a link under the mouse, progress).
void web_status(const std::string& text);

// "http://<universe host>[:port]/misc/zk.htm": the port of the current
// world's object path when that names the universe host, else the universe
// port + 10 (where zelnik-server serves its object tree by default).
std::string web_worlds_address();
const std::string& web_last_address();
bool web_navigating();

}  // namespace zk
