#include "people/registry.h"

#include <array>
#include <cstring>

#include "art/files.h"
#include "platform/files.h"

namespace zk {

namespace {

enum class Kind { end, equals, version, avatar, endavatar, beginimp, endimp, beginexp, endexp, value, identifier, other };

struct Keyword {
    const char* text;
    Kind kind;
};
constexpr Keyword kKeywords[] = {
    {"version", Kind::version},   {"avatar", Kind::avatar}, {"endavatar", Kind::endavatar},
    {"beginimp", Kind::beginimp}, {"endimp", Kind::endimp}, {"beginexp", Kind::beginexp},
    {"endexp", Kind::endexp},
};

const char* keyword_name(Kind k) {
    if (k == Kind::equals) return "equals";
    for (const Keyword& w : kKeywords)
        if (w.kind == k) return w.text;
    return "error";
}

struct Token {
    Kind kind = Kind::end;
    std::string_view text;
    int line = 1;
};

bool letter_or_digit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
bool identifier_char(char c) { return letter_or_digit(c) || c == '.' || c == '-' || c == '_'; }

class Lexer {
public:
    Lexer(std::string_view text, size_t pos) : text_(text), pos_(pos) {}

    Token next() {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '#') {
                const size_t nl = text_.find('\n', pos_);
                pos_ = nl == std::string_view::npos ? text_.size() : nl;  // the line feed counts below
            } else if (c == ' ' || c == '\t' || c == '\n') {
                line_ += c == '\n';
                ++pos_;
            } else if (c == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') {
                ++pos_;
            } else {
                break;
            }
        }
        Token t;
        t.line = line_;
        if (pos_ >= text_.size()) return t;
        const size_t start = pos_;
        if (!letter_or_digit(text_[pos_])) {
            t.kind = text_[pos_] == '=' ? Kind::equals : Kind::other;
            t.text = text_.substr(pos_++, 1);
            return t;
        }
        while (pos_ < text_.size() && identifier_char(text_[pos_])) ++pos_;
        const std::string_view word = text_.substr(start, pos_ - start);
        // Every keyword is a whole identifier: it wins only at equal length.
        t.kind = Kind::identifier;
        for (const Keyword& w : kKeywords)
            if (word == w.text) t.kind = w.kind;
        if (t.kind == Kind::identifier && word.size() == 1 && word[0] >= '0' && word[0] <= '9') t.kind = Kind::value;
        t.text = word.substr(0, kRegistryMaxIdentifier);
        return t;
    }

private:
    std::string_view text_;
    size_t pos_;
    int line_ = 1;
};

std::string cut(std::string_view s, size_t n) { return std::string(s.substr(0, n)); }

constexpr std::string_view kCookie02 = "# animation registry version 0.2";
constexpr std::string_view kCookie03 = "# animation registry version 0.3";

struct State {
    std::vector<AvatarEntry> entries;
    std::string dir, error;
};
State g;

void set_attribute(AvatarEntry& e, std::string_view key, std::string_view value) {
    const std::string k = cut(key, kRegistryMaxValue);
    for (auto& [name, v] : e.attributes)
        if (name == k) {
            v = cut(value, kRegistryMaxValue);
            return;
        }
    if (e.attributes.size() < kRegistryMaxAttributes) e.attributes.emplace_back(k, cut(value, kRegistryMaxValue));
}

class Parser {
public:
    Parser(std::string_view text, size_t body, std::vector<AvatarEntry>& out) : lex_(text, body), out_(out) {}

    // The line of the first error, 0 when none.
    int run(bool v3) {
        if (v3) {
            if (!expect(Kind::version)) return first_line_;
            if (!expect(Kind::value)) return first_line_;
            if (tok_.text != "3") {
                fail("can't handle requested file version");
                return first_line_;
            }
        }
        for (;;) {
            advance();
            if (tok_.kind == Kind::end) break;
            if (tok_.kind != Kind::avatar) {
                unexpected();
                break;
            }
            AvatarEntry e;
            if (!(v3 ? block03(e) : block02(e))) {
                // Skip the rest of the block; the offending token may have ended it.
                while (tok_.kind != Kind::endavatar && tok_.kind != Kind::end) advance();
                continue;
            }
            if (out_.size() < kRegistryMaxEntries) out_.push_back(std::move(e));
        }
        return first_line_;
    }

    const std::string& message() const { return message_; }

private:
    void advance() { tok_ = lex_.next(); }
    bool fail(std::string why) {
        if (first_line_ == 0) {
            first_line_ = tok_.line;
            message_ = cut(why, 255);
        }
        return false;
    }
    bool unexpected() {
        switch (tok_.kind) {
        case Kind::end: return fail("unexpected end-of-file");
        case Kind::value: return fail("unexpected value '" + std::string(tok_.text) + "'");
        case Kind::identifier: return fail("unexpected identifier '" + std::string(tok_.text) + "'");
        case Kind::other: return fail("unexpected token '" + std::string(tok_.text) + "'");
        default: return fail(std::string("unexpected keyword '") + keyword_name(tok_.kind) + "'");
        }
    }
    bool expect(Kind k) {
        advance();
        return tok_.kind == k || unexpected();
    }
    // "identifier = identifier" after its first token has been read.
    bool pair(std::string& key, std::string& value) {
        if (tok_.kind != Kind::identifier) return unexpected();
        key = cut(tok_.text, kRegistryMaxValue);
        if (!expect(Kind::equals) || !expect(Kind::identifier)) return false;
        value = cut(tok_.text, kRegistryMaxValue);
        return true;
    }
    bool actions(Kind close, std::vector<std::string>& names, std::vector<std::string>& sequences) {
        for (advance(); tok_.kind != close; advance()) {
            std::string name, sequence;
            if (!pair(name, sequence)) return false;
            if (names.size() >= kRegistryMaxActions) continue;
            names.push_back(std::move(name));
            sequences.push_back(std::move(sequence));
        }
        return true;
    }
    bool block03(AvatarEntry& e) {
        for (advance(); tok_.kind != Kind::endavatar; advance()) {
            if (tok_.kind == Kind::beginimp) {
                if (!actions(Kind::endimp, e.implicit_names, e.implicit_sequences)) return false;
            } else if (tok_.kind == Kind::beginexp) {
                if (!actions(Kind::endexp, e.explicit_names, e.explicit_sequences)) return false;
            } else {
                std::string key, value;
                if (!pair(key, value)) return false;
                set_attribute(e, key, value);
            }
        }
        return true;
    }
    bool block02(AvatarEntry& e) {
        if (!expect(Kind::identifier)) return false;
        if (tok_.text == "cy") return fail("cy was handled specially");
        set_attribute(e, "name", tok_.text);
        e.implicit_names = {"walk", "wait", "endwait"};
        e.implicit_sequences.assign(3, "");
        e.explicit_names = {"wave"};
        e.explicit_sequences.assign(1, "");
        for (advance(); tok_.kind != Kind::endavatar; advance()) {
            std::string key, value;
            if (!pair(key, value)) return false;
            if (key == "geometry") set_attribute(e, "geometry", value);
            else if (key == "wave") e.explicit_sequences[0] = value;
            for (size_t i = 0; i < 3; ++i)
                if (key == e.implicit_names[i]) e.implicit_sequences[i] = value;
        }
        return true;
    }

    Lexer lex_;
    Token tok_;
    std::vector<AvatarEntry>& out_;
    int first_line_ = 0;
    std::string message_;
};

AvatarEntry make_entry(const char* name, const char* geometry, std::vector<std::string> sequences,
                       std::vector<std::string> gestures) {
    AvatarEntry e;
    e.attributes = {{"name", name}, {"geometry", geometry}};
    if (!sequences.empty()) e.implicit_names = {"walk", "wait", "endwait"};
    e.implicit_sequences = std::move(sequences);
    for (size_t i = 0; i < gestures.size(); ++i) e.explicit_names.push_back("act" + std::to_string(i + 1));
    e.explicit_sequences = std::move(gestures);
    return e;
}

const std::array<AvatarEntry, 3>& specials() {
    static const std::array<AvatarEntry, 3> s = {
        make_entry("special1", "special1.rwx", {"sp1walk", "sp1wait", "sp1end"}, {"sp1act1"}),
        make_entry("special2", "special2.rwx", {"sp2walk", "sp2wait", "sp2end"}, {"sp2act1"}),
        make_entry("special3", "special3.rwx", {"sp3walk", "sp3wait", "sp3end"}, {"sp3act1"}),
    };
    return s;
}

AvatarEntry default_entry() { return make_entry("cy", "cy.rwx", {}, {}); }

bool pack(const std::vector<std::string>& names, char* buffer, size_t size, int* count) {
    size_t used = 0;
    int n = 0;
    bool ok = true;
    for (const std::string& name : names) {
        if (name.size() + 1 > size - used) {
            ok = false;
            break;
        }
        std::memcpy(buffer + used, name.c_str(), name.size() + 1);
        used += name.size() + 1;
        ++n;
    }
    if (count) *count = n;
    return ok;
}

}  // namespace

std::string AvatarEntry::attribute(std::string_view key) const {
    for (const auto& [k, v] : attributes)
        if (k == key) return v;
    return {};
}

int registry_load_text(std::string_view text) {
    g.entries.clear();
    g.error.clear();
    if (text.size() > kRegistryMaxFile) return -1;
    // The cookie is the first line's first 32 characters; anything after
    // them on that line is read as tokens.
    size_t eol = text.find('\n');
    std::string_view first = text.substr(0, eol);
    if (!first.empty() && first.back() == '\r' && eol != std::string_view::npos) first.remove_suffix(1);
    first = first.substr(0, kCookie03.size());
    const bool v2 = first == kCookie02, v3 = first == kCookie03;
    if (!v2 && !v3) {
        g.error = "line 1: unrecognized cookie";
        return 1;
    }
    if (v2) g.entries.push_back(default_entry());
    Parser p(text, first.size(), g.entries);
    const int line = p.run(v3);
    if (line) g.error = "line " + std::to_string(line) + ": " + p.message();
    return line;
}

int registry_load(const std::string& path) {
    g.entries.clear();
    g.error.clear();
    if (path.empty()) {
        g.entries.push_back(default_entry());
        return 0;
    }
    file_touch(path);  // in use: the disk-usage pass keeps it
    std::string text;
    if (!file_read_all(path, text, kRegistryMaxFile)) return -1;
    return registry_load_text(text);
}

const std::string& registry_error() { return g.error; }

void registry_reset(const std::string& art_directory) {
    g.entries.clear();
    g.error.clear();
    g.dir = art_directory;
}

const std::string& registry_directory() { return g.dir; }

int registry_count() { return static_cast<int>(g.entries.size()); }

const AvatarEntry* registry_entry(int type) {
    if (type >= 0 && type < registry_count()) return &g.entries[size_t(type)];
    if (type >= kRegistryFirstSpecial && type <= kRegistryLastSpecial) return &specials()[size_t(type - kRegistryFirstSpecial)];
    return nullptr;
}

bool registry_names(char* buffer, size_t size, int* count) {
    std::vector<std::string> names;
    names.reserve(g.entries.size());
    for (const AvatarEntry& e : g.entries) names.push_back(e.attribute("name"));
    return pack(names, buffer, size, count);
}

bool registry_explicit_names(int type, char* buffer, size_t size, int* count) {
    const AvatarEntry* e = registry_entry(type);
    if (!e) {
        if (count) *count = 0;
        return false;
    }
    return pack(e->explicit_names, buffer, size, count);
}

std::string registry_model_file(int type) {
    const AvatarEntry* e = registry_entry(type);
    if (!e) return {};
    if (std::string geometry = e->attribute("geometry"); !geometry.empty()) return geometry;
    const std::string name = e->attribute("name");
    return name.empty() ? std::string() : name + ".rwx";
}

}  // namespace zk
