#include "world/behavior.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <tuple>
#include <utility>

#include "common/text.h"
#include "people/console.h"
#include "view/mouse.h"
#include "view/self.h"
#include "world/animation.h"
#include "world/cell.h"
#include "world/pick.h"
#include "world/sign.h"
#include "world/visible.h"
#include "world/world.h"

namespace zk {

namespace {

using Kind = BehaviorTokenKind;

// A token as a view into the interpreter's buffer.
struct Token {
    Kind kind = Kind::end;
    std::string_view text;
    double value = 0;
    bool quoted = false;
};

bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool digit(char c) { return c >= '0' && c <= '9'; }

// The interpreter's state: one text at a time.
struct Interpreter {
    object* current = nullptr;
    char text[behavior_text_limit + 1] = {};
    size_t length = 0;
    size_t at = 0;
    // Just past the last ";" read, npos when none: where the next clause
    // starts when a command took the ";" as its argument.
    size_t semicolon = std::string_view::npos;
    bool execute = false;
    bool in_create = false;
    bool busy = false;

    void load(std::string_view source) {
        // A NUL ends the text, as it would any C string it was once.
        const size_t nul = source.find('\0');
        length = std::min({source.size(), nul == std::string_view::npos ? source.size() : nul, behavior_text_limit});
        if (length) std::memcpy(text, source.data(), length);
        text[length] = 0;
        at = 0;
        semicolon = std::string_view::npos;
    }

    // A run of digits and "." from `at`: a number when it holds at most one
    // "." and that one is followed by a digit.
    bool number_at(size_t from, size_t* end, double* value) const {
        size_t j = from;
        int dots = 0;
        while (j < length && (digit(text[j]) || text[j] == '.')) {
            if (text[j] == '.') {
                ++dots;
                if (j + 1 >= length || !digit(text[j + 1])) return false;
            }
            ++j;
        }
        if (dots > 1) return false;
        // 255 characters stay far inside a double's range.
        double v = 0;
        const auto r = std::from_chars(text + from, text + j, v, std::chars_format::fixed);
        if (r.ec != std::errc{} || r.ptr != text + j) return false;
        *end = j;
        *value = std::min(v, behavior_number_limit);
        return true;
    }

    Token read(bool numbers) {
        while (at < length && blank(text[at])) ++at;
        Token t;
        if (at >= length) return t;
        const char c = text[at];
        if (c == '"') {
            const size_t start = at + 1;
            const char* close = static_cast<const char*>(std::memchr(text + start, '"', length - start));
            const size_t stop = close ? static_cast<size_t>(close - text) : length;
            at = close ? stop + 1 : length;
            t.kind = Kind::word;
            t.text = std::string_view(text + start, stop - start);
            t.quoted = true;
            return t;
        }
        switch (c) {
        case '+': t.kind = Kind::plus; break;
        case '-': t.kind = Kind::minus; break;
        case ',': t.kind = Kind::comma; break;
        case ';': t.kind = Kind::semicolon; break;
        default: break;
        }
        if (t.kind != Kind::end) {
            t.text = std::string_view(text + at, 1);
            ++at;
            if (t.kind == Kind::semicolon) semicolon = at;
            return t;
        }
        size_t end = 0;
        if (numbers && (digit(c) || c == '.') && number_at(at, &end, &t.value)) {
            t.kind = Kind::number;
            t.text = std::string_view(text + at, end - at);
            at = end;
            return t;
        }
        const size_t start = at;
        while (at < length && !blank(text[at]) && text[at] != ',' && text[at] != ';') ++at;
        t.kind = Kind::word;
        t.text = std::string_view(text + start, at - start);
        return t;
    }

    Token peek(bool numbers) {
        const size_t saved = at, saved_semicolon = semicolon;
        Token t = read(numbers);
        at = saved;
        semicolon = saved_semicolon;
        return t;
    }

    // Everything up to and including the next ";" (quoted words may hold one).
    // False when the text ended first.
    bool skip_clause() {
        for (;;) {
            const Token t = read(false);
            if (t.kind == Kind::end) return false;
            if (t.kind == Kind::semicolon) return true;
        }
    }
};

Interpreter g;
BehaviorHooks g_hooks;
std::deque<std::string> g_queue;

// Marks the interpreter busy for one run; a nested run finds it busy and
// does nothing.
class Run {
public:
    Run(object* o, bool execute) : ok_(!g.busy) {
        if (!ok_) return;
        g.busy = true;
        g.current = o;
        g.execute = execute;
        g.in_create = false;
    }
    ~Run() {
        if (!ok_) return;
        g.busy = false;
        g.current = nullptr;
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_;
};

enum class Status { ok, error, stop };

bool boolean_of(const Token& t, bool* value) {
    if (t.kind != Kind::word) return false;
    static constexpr std::pair<const char*, bool> kWords[] = {{"on", true},   {"true", true},   {"yes", true},
                                                              {"off", false}, {"false", false}, {"no", false}};
    for (const auto& [word, meaning] : kWords) {
        if (!equal_ignoring_case(t.text, word)) continue;
        *value = meaning;
        return true;
    }
    return false;
}

// A number where one is expected: plain, or "+"/"-" and a number (relative).
bool read_number(const Token& first, double* value, bool* is_signed) {
    if (first.kind == Kind::number) {
        *value = first.value;
        *is_signed = false;
        return true;
    }
    if (first.kind != Kind::plus && first.kind != Kind::minus) return false;
    const Token n = g.read(true);
    if (n.kind != Kind::number) return false;
    *value = first.kind == Kind::minus ? -n.value : n.value;
    *is_signed = true;
    return true;
}

bool read_plain(int* out) {
    const Token t = g.read(true);
    if (t.kind != Kind::number) return false;
    *out = static_cast<int>(t.value);
    return true;
}

int whole(double v) {
    return static_cast<int>(std::clamp(v, -behavior_number_limit, behavior_number_limit));
}

// The objects a command acts on: the named ones of the current object's
// owner, else the current object. Gathered first, so that what the command
// does cannot disturb the name search. Nothing outside execute mode.
std::vector<object*> targets(bool named, std::string_view name) {
    std::vector<object*> out;
    if (!g.execute || !g.current) return out;
    if (!named) {
        out.push_back(g.current);
        return out;
    }
    for (object* o = object_find_first(name, g.current->owner); o; o = object_find_next()) out.push_back(o);
    return out;
}

// A boolean, after an optional name tried as a boolean first.
Status named_boolean(bool* named, std::string_view* name, bool* value) {
    const Token t = g.read(false);
    if (boolean_of(t, value)) return Status::ok;
    if (t.kind != Kind::word) return Status::error;
    *named = true;
    *name = t.text;
    return boolean_of(g.read(false), value) ? Status::ok : Status::error;
}

// A word argument.
bool read_word(std::string_view* out) {
    const Token t = g.read(false);
    if (t.kind != Kind::word) return false;
    *out = t.text;
    return true;
}

// --- Commands ---

Status cmd_sound() {
    std::string_view file;
    if (!read_word(&file)) return Status::error;
    if (!g_hooks.sound) return Status::ok;
    if (!g.execute) g_hooks.sound(g.current, std::string(file), false);
    else if (g.current) g_hooks.sound(g.current, std::string(file), true);
    return Status::ok;
}

Status cmd_noise() {
    std::string_view file;
    if (!read_word(&file)) return Status::error;
    if (g_hooks.noise) g_hooks.noise(std::string(file), g.execute);
    return Status::ok;
}

Status cmd_url() {
    std::string_view address;
    if (!read_word(&address)) return Status::error;
    if (g.execute && g_hooks.url) g_hooks.url(std::string(address), g.in_create);
    return Status::ok;
}

// Where a teleport or warp goes.
struct Place {
    bool relative = false;
    double x = 0, z = 0;
    double altitude = 0.1;
    bool has_altitude = false;
    double facing = 0;
    bool has_facing = false;
};

// "40n 50w [2a] [90]" or "+dz +dx [+da a] [+dyaw]", from its first token.
bool read_place(const Token& first, Place* p) {
    double v = 0;
    bool s = false;
    if (!read_number(first, &v, &s)) return false;
    p->relative = s;
    auto same_kind = [&](const Token& t, double* out) {
        bool sign = false;
        return read_number(t, out, &sign) && sign == p->relative;
    };
    // A direction word: only its first letter counts.
    auto direction = [&](const char* letters) -> char {
        const Token w = g.read(false);
        if (w.kind != Kind::word || w.text.empty()) return 0;
        const char c = ascii_lower(w.text[0]);
        return c == letters[0] || c == letters[1] ? c : 0;
    };
    double x = 0;
    if (p->relative) {
        p->z = v;
        if (!same_kind(g.read(true), &x)) return false;
        p->x = x;
    } else {
        const char ns = direction("ns");
        if (!ns) return false;
        p->z = ns == 'n' ? v : -v;
        if (!same_kind(g.read(true), &x)) return false;
        const char ew = direction("we");
        if (!ew) return false;
        p->x = ew == 'w' ? x : -x;
    }
    // An optional third number: the altitude when "a..." follows, else the
    // facing.
    const Token third = g.peek(true);
    if (third.kind != Kind::number && third.kind != Kind::plus && third.kind != Kind::minus) return true;
    double n3 = 0;
    if (!same_kind(g.read(true), &n3)) return false;
    const Token after = g.peek(false);
    if (after.kind != Kind::word) {
        p->facing = n3;
        p->has_facing = true;
        return true;
    }
    if (after.text.empty() || ascii_lower(after.text[0]) != 'a') return false;
    g.read(false);
    p->altitude = n3;
    p->has_altitude = true;
    const Token fourth = g.peek(true);
    if (fourth.kind != Kind::number && fourth.kind != Kind::plus && fourth.kind != Kind::minus) return true;
    double n4 = 0;
    if (!same_kind(g.read(true), &n4)) return false;
    p->facing = n4;
    p->has_facing = true;
    return true;
}

constexpr double kWarpHistoryDistance = 10;  // world units

Status go(bool warp) {
    // Never from a create clause: loading a cell must not carry the user off.
    if (g.in_create) return Status::stop;
    std::string world;
    bool named = false;
    Token first = g.read(true);
    Place place;
    bool ground_zero = false;
    if (!warp && first.kind == Kind::word) {
        world.assign(first.text);
        named = true;
        const Token next = g.peek(true);
        if (next.kind == Kind::end || next.kind == Kind::semicolon) ground_zero = true;
        else first = g.read(true);
    }
    if (!ground_zero && !read_place(first, &place)) return Status::error;
    if (!g.execute) return Status::ok;

    if (g_hooks.noise) g_hooks.noise(warp ? "warp1.wav" : "deport1.wav", true);
    if (named) {
        const std::string before = world_name();
        // Not recorded by the entry: the teleport records the place it
        // leaves below, once, before the user is moved.
        if (world_enter(world, 0) != 0) {
            console_system("Switchboard Operator",
                           "Sorry, there is no world called \"" + world + "\" running at this time.");
            return Status::error;
        }
        // Entering another world let go of every live object, ours too.
        if (world_name() != before) g.current = nullptr;
    }
    pick_off();

    double cx = 0, cy = 0, cz = 0;
    self_position(&cx, &cy, &cz);
    const double cyaw = self_yaw();
    double x = place.x, z = place.z, y = place.altitude, yaw = place.facing;
    if (place.relative) {
        x += cx;
        z += cz;
        y = place.has_altitude ? cy + place.altitude : cy;
        yaw = place.has_facing ? cyaw + place.facing : cyaw;
    }
    // Facings far outside a turn are brought back into one before they
    // become a float.
    yaw = std::fmod(yaw, 360.0);
    if (!warp) {
        if (g_hooks.history_push) g_hooks.history_push();
        self_set_position(x, y, z, static_cast<float>(yaw));
    } else {
        if (std::hypot(x - cx, z - cz) > kWarpHistoryDistance && g_hooks.history_push) g_hooks.history_push();
        self_move_to(x, y, z, static_cast<float>(yaw));
    }
    return Status::ok;
}

Status cmd_teleport() { return go(false); }
Status cmd_warp() { return go(true); }

Status cmd_visible() {
    bool named = false, value = false;
    std::string_view name;
    if (named_boolean(&named, &name, &value) != Status::ok) return Status::error;
    for (object* o : targets(named, name)) {
        object_set_visible(o, value);
        if (value) visible_show_object(o);
        else visible_hide_object(o);
    }
    return Status::ok;
}

Status cmd_solid() {
    bool named = false, value = false;
    std::string_view name;
    if (named_boolean(&named, &name, &value) != Status::ok) return Status::error;
    for (object* o : targets(named, name)) object_set_solid(o, value);
    return Status::ok;
}

Status cmd_name() {
    std::string_view name;
    if (!read_word(&name)) return Status::error;
    if (g.execute && g.current) object_set_name(g.current, name);
    return Status::ok;
}

Status cmd_avatars() {
    bool value = false;
    if (!boolean_of(g.read(false), &value)) return Status::error;
    if (g.execute && g_hooks.avatars) g_hooks.avatars(value);
    return Status::ok;
}

Status cmd_animate() {
    std::string_view who, base;
    int images = 0, frames = 0, delay = 0;
    if (!read_word(&who) || !read_word(&base)) return Status::error;
    if (!read_plain(&images) || !read_plain(&frames) || !read_plain(&delay)) return Status::error;
    std::vector<int> list;
    const Token t = g.peek(true);
    if (t.kind == Kind::number) {
        // Exactly `frames` numbers; the text's length bounds the reading.
        while (static_cast<int>(list.size()) < frames) {
            int n = 0;
            if (!read_plain(&n)) return Status::error;
            list.push_back(n);
        }
    } else if (frames != images) {
        return Status::error;
    }
    // A broken limit makes no animation; the clause goes on.
    bool fits = images >= 1 && images <= kAnimationMaxImages && frames >= 1 &&
                base.size() <= (images >= 10 ? kAnimationMaxBaseMany : kAnimationMaxBase);
    for (int n : list) fits = fits && n >= 1 && n <= images;
    if (!fits) return Status::ok;
    if (!g.execute) {
        animation_prefetch(std::string(base), images);
        return Status::ok;
    }
    const bool me = equal_ignoring_case(who, "me");
    for (object* o : targets(!me, who)) animation_create(o, std::string(base), images, frames, delay, list);
    return Status::ok;
}

Status cmd_frame() {
    const Token t = g.read(true);
    double v = 0;
    bool relative = false, named = false;
    std::string_view name;
    if (!read_number(t, &v, &relative)) {
        if (t.kind != Kind::word) return Status::error;
        named = true;
        name = t.text;
        if (!read_number(g.read(true), &v, &relative)) return Status::error;
    }
    for (object* o : targets(named, name)) animation_frame(o, whole(v), relative);
    return Status::ok;
}

Status cmd_astart() {
    bool looping = false, value = false, named = false;
    std::string_view name;
    if (boolean_of(g.peek(false), &value)) {
        looping = value;
        g.read(false);
    }
    const Token t = g.peek(false);
    if (t.kind == Kind::word && !boolean_of(t, &value)) {
        named = true;
        name = t.text;
        g.read(false);
    }
    if (boolean_of(g.peek(false), &value)) {
        looping = value;
        g.read(false);
    }
    for (object* o : targets(named, name)) animation_start(o, looping);
    return Status::ok;
}

Status cmd_astop() {
    const Token t = g.peek(false);
    const bool named = t.kind == Kind::word;
    if (named) g.read(false);
    for (object* o : targets(named, t.text)) animation_stop(o);
    return Status::ok;
}

// A "key=value" argument: false when the word is not one; an error when the
// key came before.
enum class Keyword { none, taken, repeated };
Keyword keyword(const Token& t, std::string_view key, bool* seen, std::string_view* value) {
    if (t.quoted || !starts_with_ignoring_case(t.text, key)) return Keyword::none;
    if (*seen) return Keyword::repeated;
    *seen = true;
    *value = t.text.substr(key.size());
    return Keyword::taken;
}

constexpr uint32_t kSignText = 0xFFFFFF;        // white
constexpr uint32_t kSignBackground = 0x0000FF;  // blue

Status cmd_sign() {
    std::string_view text, color, background, name;
    bool has_text = false, has_color = false, has_background = false, named = false;
    for (Token t = g.peek(false); t.kind == Kind::word; t = g.peek(false)) {
        g.read(false);
        Keyword k = Keyword::none;
        for (auto [key, seen, value] : {std::tuple{"color=", &has_color, &color},
                                        std::tuple{"bcolor=", &has_background, &background},
                                        std::tuple{"name=", &named, &name}}) {
            if ((k = keyword(t, key, seen, value)) != Keyword::none) break;
        }
        if (k == Keyword::repeated) return Status::error;
        if (k == Keyword::taken) continue;
        if (has_text) return Status::error;
        has_text = true;
        text = t.text;
    }
    if (!g.execute) return Status::ok;
    const uint32_t fg = has_color ? sign_color(color) : kSignText;
    const uint32_t bg = has_background ? sign_color(background) : kSignBackground;
    for (object* o : targets(named, name)) sign_queue(o, has_text ? std::string(text) : o->description, fg, bg);
    return Status::ok;
}

Status cmd_cursor() {
    bool value = false;
    if (!boolean_of(g.read(false), &value)) return Status::error;
    if (!g.execute || g.in_create) return Status::ok;
    if (value) mouse_as_picker();
    else if (!mouse_is_mover()) pick_off();
    return Status::ok;
}

// "update=": a whole number, below 0 taken as 0.
bool update_seconds(std::string_view v, int* out) {
    bool negative = false;
    if (!v.empty() && (v[0] == '-' || v[0] == '+')) {
        negative = v[0] == '-';
        v.remove_prefix(1);
    }
    if (v.empty()) return false;
    double n = 0;
    for (char c : v) {
        if (!digit(c)) return false;
        n = std::min(n * 10 + (c - '0'), behavior_number_limit);
    }
    *out = negative ? 0 : static_cast<int>(n);
    return true;
}

Status cmd_picture() {
    std::string_view address, name, update;
    bool has_address = false, named = false, has_update = false;
    for (Token t = g.peek(false); t.kind == Kind::word; t = g.peek(false)) {
        g.read(false);
        Keyword k = keyword(t, "name=", &named, &name);
        if (k == Keyword::none) k = keyword(t, "update=", &has_update, &update);
        if (k == Keyword::repeated) return Status::error;
        if (k == Keyword::taken) continue;
        if (has_address) return Status::error;
        has_address = true;
        address = t.text;
    }
    int seconds = 0;
    if (has_update && !update_seconds(update, &seconds)) return Status::error;
    if (!g_hooks.picture) return Status::ok;
    const std::string a(address);
    // Outside create clauses, a picture without an object to show it is
    // still fetched ahead.
    if (!g.execute || (!g.current && !named)) {
        if (!g.in_create && !a.empty()) g_hooks.picture(nullptr, a, seconds, g.execute);
        return Status::ok;
    }
    for (object* o : targets(named, name)) g_hooks.picture(o, a, seconds, true);
    return Status::ok;
}

struct Command {
    const char* name;
    Status (*run)();
};
// In the order they are looked up.
constexpr Command kCommands[] = {
    {"sound", cmd_sound},       {"noise", cmd_noise},   {"url", cmd_url},       {"teleport", cmd_teleport},
    {"warp", cmd_warp},         {"visible", cmd_visible}, {"solid", cmd_solid},   {"name", cmd_name},
    {"avatars", cmd_avatars},   {"animate", cmd_animate}, {"frame", cmd_frame},   {"astart", cmd_astart},
    {"astop", cmd_astop},       {"sign", cmd_sign},     {"cursor", cmd_cursor}, {"picture", cmd_picture},
};

const char* const kTriggers[] = {"create", "bump", "activate", "adone"};

const char* trigger_name(BehaviorTrigger t) { return kTriggers[static_cast<int>(t)]; }

bool is_trigger(std::string_view word) {
    for (const char* t : kTriggers)
        if (equal_ignoring_case(word, t)) return true;
    return false;
}

// One command at the cursor.
Status command() {
    const Token t = g.read(false);
    if (t.kind != Kind::word) return Status::error;
    for (const Command& c : kCommands)
        if (equal_ignoring_case(t.text, c.name)) return c.run();
    return Status::error;
}

// The commands of a clause: false when an error stopped them.
bool clause() {
    for (;;) {
        const Status s = command();
        if (s == Status::error) return false;
        if (s == Status::stop || g.peek(false).kind != Kind::comma) return true;
        g.read(false);
    }
}

// The old single-sound form: "sound:file" as the whole text.
bool old_sound_form(const Token& first) {
    if (!starts_with_ignoring_case(first.text, "sound:")) return false;
    const char* colon = static_cast<const char*>(std::memchr(g.text, ':', g.length));
    g.at = static_cast<size_t>(colon - g.text) + 1;
    return true;
}

bool bare_address(std::string_view text) {
    if (text.empty() || starts_with_ignoring_case(text, "sound:")) return false;
    for (char c : text)
        if (blank(c)) return false;
    return true;
}

}  // namespace

std::vector<BehaviorToken> behavior_tokens(std::string_view text, bool numbers) {
    std::vector<BehaviorToken> out;
    Run run(nullptr, false);
    if (!run.ok()) return out;
    g.load(text);
    for (;;) {
        const Token t = g.read(numbers);
        out.push_back({t.kind, std::string(t.text), t.value, t.quoted});
        if (t.kind == Kind::end) return out;
    }
}

int behavior_check(object* o) {
    if (!o) return 0;
    Run run(o, false);
    if (!run.ok()) return 0;
    g.load(o->action);
    Token t = g.read(false);
    if (t.kind != Kind::word) return 0;
    if (old_sound_form(t)) {
        g.in_create = true;
        return cmd_sound() == Status::ok ? 1 : 0;
    }
    int result = 1;
    for (;;) {
        g.semicolon = std::string_view::npos;
        if (t.kind == Kind::word && is_trigger(t.text)) {
            g.in_create = equal_ignoring_case(t.text, "create");
            if (!clause()) result = 0;
        } else {
            result = 0;
        }
        // The rest of a clause, well formed or not, up to the next one.
        if (g.semicolon != std::string_view::npos) g.at = g.semicolon;
        else if (!g.skip_clause()) return result;
        t = g.read(false);
    }
}

int behavior_run(object* o, BehaviorTrigger trigger) {
    if (!o) return 0;
    Run run(o, true);
    if (!run.ok()) return 0;
    g.load(o->action);
    Token t = g.read(false);
    if (t.kind != Kind::word) return 0;
    if (trigger == BehaviorTrigger::create && old_sound_form(t)) {
        g.in_create = true;
        return cmd_sound() == Status::ok ? 1 : 0;
    }
    const char* wanted = trigger_name(trigger);
    for (;;) {
        if (t.kind != Kind::word) return 0;
        if (equal_ignoring_case(t.text, wanted)) {
            g.in_create = trigger == BehaviorTrigger::create;
            return clause() ? 1 : 0;
        }
        if (!g.skip_clause()) return 0;
        t = g.read(false);
    }
}

void behavior_action_check(object* o) { behavior_check(o); }
void behavior_action_create(object* o) { behavior_run(o, BehaviorTrigger::create); }

void behavior_activate(object* o) {
    if (!o || g.busy) return;
    // Copied first: the clause may take the object away (another world).
    g.load(o->action);
    const std::string text(g.text, g.length);
    if (behavior_run(o, BehaviorTrigger::activate)) return;
    if (bare_address(text) && g_hooks.url) g_hooks.url(text, false);
}

void behavior_bump(object* o) { behavior_run(o, BehaviorTrigger::bump); }
void behavior_adone(object* o) { behavior_run(o, BehaviorTrigger::adone); }

bool behavior_queue(std::string_view text) {
    if (g_queue.size() >= behavior_queue_limit) return false;
    g_queue.emplace_back(text.substr(0, behavior_text_limit));
    return true;
}

size_t behavior_queued() { return g_queue.size(); }

void behavior_update() {
    if (g_queue.empty() || g.busy) return;
    const std::string text = std::move(g_queue.front());
    g_queue.pop_front();
    Run run(nullptr, true);
    g.load(text);
    command();
}

void behavior_reset() { g_queue.clear(); }

BehaviorHooks& behavior_hooks() { return g_hooks; }

}  // namespace zk
