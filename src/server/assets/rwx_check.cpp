#include "server/assets/rwx_check.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace zk::server {

namespace {

// The browser reads model lines into a 256-byte buffer.
constexpr size_t kMaxLine = 255;
constexpr int kMaxDepth = 64;

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::vector<std::string> tokens_of(std::string_view line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i >= line.size() || line[i] == '#') break;
        size_t j = i;
        while (j < line.size() && !std::isspace(static_cast<unsigned char>(line[j]))) ++j;
        out.emplace_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

bool is_integer(const std::string& s, long& value) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(s.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

bool is_number(const std::string& s) {
    if (s.empty()) return false;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    return *end == '\0' && std::isfinite(v);
}

std::string base_name(const std::string& name) { return lower(name.substr(0, name.find('.'))); }

struct Checker {
    RwxSummary out;
    int line_number = 0;
    bool model_open = false, model_done = false;
    std::vector<std::string> blocks;  // open block names, innermost last
    std::vector<int> clump_vertices;  // vertex count of each open clump

    bool fail(const std::string& what) {
        if (out.error.empty()) out.error = "line " + std::to_string(line_number) + ": " + what;
        return false;
    }

    bool open(const std::string& block) {
        if (blocks.size() >= kMaxDepth) return fail("blocks nested too deeply");
        blocks.push_back(block);
        return true;
    }

    bool close(const std::string& block, const std::string& keyword) {
        if (blocks.empty() || blocks.back() != block) return fail(keyword + " without its " + block + "begin");
        blocks.pop_back();
        return true;
    }

    // Face vertex numbers from tokens [first, first + count), then an
    // optional "tag n".
    bool face(const std::vector<std::string>& t, size_t first, size_t count) {
        if (clump_vertices.empty()) return fail("face outside a clump");
        if (t.size() < first + count) return fail("face with too few vertex numbers");
        for (size_t i = first; i < first + count; ++i) {
            long v = 0;
            if (!is_integer(t[i], v)) return fail("vertex number '" + t[i] + "' is not a whole number");
            if (v < 1 || v > clump_vertices.back())
                return fail("vertex number " + t[i] + " out of range 1.." + std::to_string(clump_vertices.back()));
        }
        size_t rest = first + count;
        if (rest < t.size()) {
            long tag = 0;
            if (lower(t[rest]) != "tag" || rest + 2 != t.size() || !is_integer(t[rest + 1], tag) || tag < 0)
                return fail("unexpected text after a face");
            out.tags.insert(static_cast<int>(tag));
        }
        ++out.faces;
        return true;
    }

    bool numbers(const std::vector<std::string>& t, size_t first, size_t count, const char* what) {
        if (t.size() != first + count) return fail(std::string(what) + " takes " + std::to_string(count) + " numbers");
        for (size_t i = first; i < t.size(); ++i)
            if (!is_number(t[i])) return fail(std::string(what) + ": '" + t[i] + "' is not a number");
        return true;
    }

    bool line(std::string_view text) {
        ++line_number;
        if (text.size() > kMaxLine) return fail("line longer than 255 characters");
        const std::vector<std::string> t = tokens_of(text);
        if (t.empty()) return true;
        const std::string k = lower(t[0]);
        if (model_done) return fail("text after ModelEnd");
        if (!model_open) {
            if (k != "modelbegin") return fail("the model must begin with ModelBegin");
            model_open = true;
            return true;
        }
        if (k == "modelbegin") return fail("second ModelBegin");
        if (k == "modelend") {
            if (!blocks.empty()) return fail("ModelEnd inside an open " + blocks.back() + " block");
            model_done = true;
            return true;
        }
        if (k == "clumpbegin") {
            ++out.clumps;
            clump_vertices.push_back(0);
            return open("clump");
        }
        if (k == "clumpend") {
            if (!close("clump", "ClumpEnd")) return false;
            clump_vertices.pop_back();
            return true;
        }
        if (k == "protobegin") {
            if (t.size() != 2) return fail("ProtoBegin needs a name");
            clump_vertices.push_back(0);
            return open("proto");
        }
        if (k == "protoend") {
            if (!close("proto", "ProtoEnd")) return false;
            clump_vertices.pop_back();
            return true;
        }
        if (k == "transformbegin") return open("transform");
        if (k == "transformend") return close("transform", "TransformEnd");
        if (k == "attributebegin") return open("attribute");
        if (k == "attributeend") return close("attribute", "AttributeEnd");
        if (k == "vertex" || k == "vertexext") {
            if (clump_vertices.empty()) return fail("vertex outside a clump");
            if (t.size() != 4 && !(t.size() == 7 && lower(t[4]) == "uv")) return fail("Vertex takes x y z [UV u v]");
            for (size_t i = 1; i < t.size(); ++i)
                if (i != 4 && !is_number(t[i])) return fail("Vertex: '" + t[i] + "' is not a number");
            ++clump_vertices.back();
            ++out.vertices;
            return true;
        }
        if (k == "triangle" || k == "triangleext") return face(t, 1, 3);
        if (k == "quad" || k == "quadext") return face(t, 1, 4);
        if (k == "polygon" || k == "polygonext") {
            long n = 0;
            if (t.size() < 2 || !is_integer(t[1], n) || n < 3 || n > 64) return fail("Polygon needs a count of 3 to 64");
            return face(t, 2, static_cast<size_t>(n));
        }
        if (k == "texture") {
            if (t.size() < 2) return fail("Texture needs a name");
            if (lower(t[1]) != "null") out.textures.insert(base_name(t[1]));
            if (t.size() == 2) return true;
            if (t.size() == 4 && lower(t[2]) == "mask") {
                out.masks.insert(base_name(t[3]));
                return true;
            }
            return fail("Texture takes a name and an optional mask name");
        }
        if (k == "color") return numbers(t, 1, 3, "Color");
        if (k == "opacity") return numbers(t, 1, 1, "Opacity");
        if (k == "surface") return numbers(t, 1, 3, "Surface");
        if (k == "ambient" || k == "diffuse" || k == "specular") return numbers(t, 1, 1, t[0].c_str());
        if (k == "translate" || k == "scale") return numbers(t, 1, 3, t[0].c_str());
        if (k == "rotate") return numbers(t, 1, 4, "Rotate");
        if (k == "transform") return numbers(t, 1, 16, "Transform");
        if (k == "identity") return t.size() == 1 || fail("Identity takes nothing");
        if (k == "protoinstance") return t.size() == 2 || fail("ProtoInstance needs a name");
        if (k == "lightsampling" || k == "geometrysampling" || k == "texturemodes" || k == "texturemode" ||
            k == "materialmode" || k == "collision" || k == "tag")
            return t.size() >= 2 || fail(t[0] + " needs a value");
        return fail("unknown statement '" + t[0] + "'");
    }
};

}  // namespace

RwxSummary rwx_check(std::string_view text) {
    Checker c;
    size_t start = 0;
    while (start <= text.size() && c.out.error.empty()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find('\0') != std::string_view::npos) {
            ++c.line_number;
            c.fail("NUL byte");
            break;
        }
        c.line(line);
        start = end + 1;
    }
    if (c.out.error.empty() && !c.model_open) c.out.error = "at the end: no ModelBegin";
    if (c.out.error.empty() && !c.model_done) c.out.error = "at the end: no ModelEnd";
    if (c.out.error.empty() && c.out.clumps == 0) c.out.error = "at the end: no clump";
    return c.out;
}

}  // namespace zk::server
