#include "world/world.h"

#include "core/log.h"
#include "art/zip.h"
#include "common/messages.h"
#include "common/pkcipher.h"
#include "platform/dialogs.h"
#include "world/prop.h"

namespace zk {

namespace {

// The window's state while it is open: one at a time.
struct Options {
    bool open = false;
    bool ready = false;
    bool editable = false;
    std::string title;
};
Options g_options;

void options_reply(const uint8_t* body, size_t length, int code) {
    if (!g_options.open) return;
    g_options.ready = true;
    if (code != 0) {
        g_options.title = "Unable to determine parameters (reason " + std::to_string(code) + ")";
        return;
    }
    attributes_decode(body, length);
    g_options.editable = world_attribute(attr_may_change) == "Y";
    g_options.title = g_options.editable ? "World Options" : "World Options (read only)";
}

std::string cut(const std::string& s, size_t n) { return s.size() > n ? s.substr(0, n) : s; }

}  // namespace

WorldOptionsDialog::WorldOptionsDialog() {
    g_options = Options{};
    g_options.open = true;
    g_options.title = "Determining options...(please wait)";
    if (prop_attributes_get(options_reply) != 0) {
        g_options.ready = true;
        g_options.title = "Unable to determine parameters (reason 1)";
    }
}

WorldOptionsDialog::~WorldOptionsDialog() { g_options.open = false; }

std::string WorldOptionsDialog::window_title() { return g_options.title; }
bool WorldOptionsDialog::editable() { return g_options.editable; }
bool WorldOptionsDialog::ready() { return g_options.ready; }

WorldOptionsFields WorldOptionsDialog::fields() {
    WorldOptionsFields f;
    f.title = world_attribute(attr_title);
    f.backdrop = world_attribute(attr_backdrop);
    f.ground = world_attribute(attr_ground);
    f.object_path = world_attribute(attr_object_path);
    f.home_page = world_attribute(attr_home_page);
    f.refresh = world_attribute(attr_refresh);
    f.radius = world_attribute(attr_restricted_radius);
    f.red = attribute_number(attr_red);
    f.green = attribute_number(attr_green);
    f.blue = attribute_number(attr_blue);
    const bool raw = g_options.editable;
    auto rights = [raw](int index) {
        return raw ? world_attribute(index) : world_rights_summary(world_attribute(index));
    };
    f.enter = rights(attr_enter);
    f.build = rights(attr_build);
    f.eminent_domain = rights(attr_eminent_domain);
    f.special_objects = rights(attr_special_objects);
    f.special_actions = rights(attr_special_actions);
    f.public_speakers = rights(attr_public_speakers);
    if (raw) f.object_password = zip_password();
    return f;
}

bool WorldOptionsDialog::ok(const WorldOptionsFields& f) {
    if (!g_options.editable) return true;
    attribute_set(attr_title, cut(f.title, 255));
    attribute_set(attr_backdrop, cut(f.backdrop, 255));
    attribute_set(attr_ground, cut(f.ground, 255));
    attribute_set(attr_object_path, cut(f.object_path, 255));
    attribute_set(attr_home_page, cut(f.home_page, 255));
    if (!f.object_password.empty()) {
        const std::string plain = cut(f.object_password, 200);
        std::string ciphered;
        PkCipher cipher(secret_key());
        for (char ch : plain) ciphered.push_back(static_cast<char>(cipher.encrypt(static_cast<uint8_t>(ch))));
        attribute_set(attr_object_password, ciphered);
    }
    auto colour = [](int v) { return std::to_string(v < 0 ? 0 : v > 255 ? 255 : v); };
    attribute_set(attr_red, colour(f.red));
    attribute_set(attr_green, colour(f.green));
    attribute_set(attr_blue, colour(f.blue));
    attribute_set(attr_refresh, cut(f.refresh, 255));
    attribute_set(attr_restricted_radius, cut(f.radius, 255));
    attribute_set(attr_enter, cut(f.enter, 255));
    attribute_set(attr_build, cut(f.build, 255));
    attribute_set(attr_eminent_domain, cut(f.eminent_domain, 255));
    attribute_set(attr_special_objects, cut(f.special_objects, 255));
    attribute_set(attr_special_actions, cut(f.special_actions, 255));
    attribute_set(attr_public_speakers, cut(f.public_speakers, 255));
    const std::string list = attributes_encode();
    sent_ = !list.empty();
    if (sent_) prop_attributes_set(reinterpret_cast<const uint8_t*>(list.data()), list.size());
    world_attributes_request();
    return true;
}

void world_options() {
    if (log_on(Trace::trace)) log_write("world_options");
    if (!dialogs_present()) return;
    WorldOptionsDialog dialog;
    dialogs().run_world_options(dialog);
}

}  // namespace zk
