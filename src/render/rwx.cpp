#include "render/rwx.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <unordered_map>
#include <vector>

#include "common/text.h"
#include "render/io.h"
#include "render/library.h"

namespace zk {

namespace {

// What one shape may cost. A shape comes from a stranger's server, and
// prototypes replay their statements, so a few KB of text could otherwise
// ask for hours of work or gigabytes. The largest real models run to some
// tens of thousands of statements and a few MB of geometry; anything beyond
// these limits fails the read with render_error_too_large.
constexpr size_t kMaxTextBytes = 64u * 1024 * 1024;
constexpr size_t kMaxStatements = 300'000;    // executed, prototype replays included
constexpr size_t kMaxWords = 2'000'000;       // in the statements executed
constexpr size_t kMaxMemory = 16u << 20;      // vertices, polygons, materials, clumps, recorded prototypes
constexpr size_t kMaxLookups = 512;           // texture and mask names looked for on disk
constexpr size_t kMaxMaterials = 4096;        // looks in one shape; each is a batch to draw
constexpr int kMaxClumpDepth = 64;
constexpr int kMaxProtoDepth = 8;
constexpr int kMaxTransformDepth = 256;
constexpr int kMaxSides = 256;
constexpr int kMaxDensity = 64;
constexpr int kMaxPolygonVertices = 4096;
// Words of a line past this many are dropped: no statement uses them.
constexpr size_t kMaxLineWords = kMaxPolygonVertices + 8;
// What the allocator adds to each block, in the memory counted.
constexpr size_t kHeapItem = 16;

bool parse_float(std::string_view s, float& out) {
    if (s.empty()) return false;
    const char* b = s.data();
    const char* e = b + s.size();
    if (*b == '+') ++b;
    float v = 0;
    auto r = std::from_chars(b, e, v);
    if (r.ec != std::errc() || r.ptr != e || !std::isfinite(v)) return false;
    out = v;
    return true;
}

bool parse_int(std::string_view s, long long& out) {
    // Most are plain integers; anything else counts by its value as a float.
    const char* b = s.data() + (!s.empty() && s[0] == '+');
    long long n;
    auto r = std::from_chars(b, s.data() + s.size(), n);
    if (r.ec == std::errc() && r.ptr == s.data() + s.size() && n >= -2'000'000'000 && n <= 2'000'000'000) {
        out = n;
        return true;
    }
    float f;
    if (!parse_float(s, f) || f != std::floor(f) || std::fabs(f) > 2e9f) return false;
    out = static_cast<long long>(f);
    return true;
}

using Line = std::vector<std::string_view>;
using Body = std::vector<Line>;

// Equal for materials of the same look (`same_look`).
size_t look_hash(const RwMaterial& m) {
    size_t h = std::hash<std::string>()(m.texture_name) ^ (std::hash<std::string>()(m.mask_name) << 1);
    auto mix = [&h](uint64_t v) { h = (h ^ v) * 0x100000001b3ull; };
    for (float f : {m.r, m.g, m.b, m.ambient, m.diffuse, m.specular, m.opacity}) {
        f += 0.0f;  // -0 and +0 look the same
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        mix(bits);
    }
    mix(uint64_t(m.light) | uint64_t(m.geometry) << 8 | uint64_t(m.texture_modes) << 16 |
        uint64_t(m.material_modes) << 24);
    mix(reinterpret_cast<uintptr_t>(m.texture));
    return h;
}

struct Scope {
    RwClump* clump;
    RwMatrix ctm, base;
    RwMaterial material;
    size_t vertex_base = 0;
    bool pivot_known = false;  // the clump's pivot has been taken
};

// Clumps tagged with these are the joints of a figure: each gets a frame of
// its own, so that turning its matrix turns it about its pivot.
constexpr int kFirstJointTag = 1, kLastJointTag = 30;

class ShapeReader {
public:
    ~ShapeReader() {
        for (auto& [name, t] : textures_) rw_texture_destroy(t);
        if (root_) rw_clump_destroy(root_);
    }

    RwClump* read(std::string_view text, std::string* error);
    // The read failed on one of the limits of what a shape may cost.
    bool too_large() const { return too_large_; }

private:
    bool statement(const Line& t, int proto_depth);
    bool fail(const std::string& why) {
        if (error_.empty()) error_ = "line " + std::to_string(line_no_) + ": " + why;
        return false;
    }
    bool floats(const Line& t, size_t from, size_t n, float* out) {
        if (t.size() < from + n) return fail("missing numbers after " + std::string(t[0]));
        for (size_t i = 0; i < n; ++i)
            if (!parse_float(t[from + i], out[i])) return fail("bad number '" + std::string(t[from + i]) + "'");
        return true;
    }
    RwClump* current();
    Scope& scope() { return scopes_.back(); }
    bool material_index(uint32_t& index);
    bool texture(const std::string& name, RwTexture*& out);
    bool add_vertex(RwV3 p, float u, float v);
    bool add_polygon(const long long* indices, size_t n, int tag, bool relative);
    bool read_tag(const Line& t, size_t at, int& tag);
    bool primitive(const Line& t, std::string_view k);
    bool over_budget(const std::string& why) {
        too_large_ = true;
        return fail(why);
    }
    bool budget_memory(size_t bytes) {
        memory_ += bytes;
        return memory_ <= kMaxMemory || over_budget("too much geometry");
    }
    bool budget_vertices(size_t n) { return budget_memory(n * sizeof(RwVertex)); }
    bool budget_lookup() { return ++lookups_ <= kMaxLookups || over_budget("too many textures"); }
    void take_pivot(Scope& s);
    bool localize(RwClump* c, const RwMatrix& parent_frame, bool framed);

    RwClump* root_ = nullptr;
    std::vector<Scope> scopes_;
    std::vector<RwMatrix> transform_stack_;
    // Instances replay a body in place; redefining the prototype meanwhile
    // cannot pull it away from under them.
    std::map<std::string, std::shared_ptr<const Body>> protos_;
    std::shared_ptr<Body> proto_;          // the prototype being recorded
    std::string proto_name_;
    size_t floor_ = 1;                     // scopes a ClumpEnd may not close
    std::map<std::string, RwTexture*> textures_;
    std::set<std::string> missing_masks_;
    // Per clump, its materials' indices by `look_hash`.
    std::unordered_map<const RwClump*, std::unordered_multimap<size_t, uint32_t>> looks_;
    std::vector<long long> indices_;       // of the polygon statement being read
    // Per clump, the transform in force at its first geometry or child.
    std::unordered_map<const RwClump*, RwMatrix> pivots_;
    size_t statements_ = 0, words_ = 0, memory_ = 0, lookups_ = 0, materials_ = 0;
    int line_no_ = 0;
    std::string error_;
    bool too_large_ = false;
};

RwClump* ShapeReader::current() {
    if (scopes_.back().clump) return scopes_.back().clump;
    // Geometry outside any clump goes into the root, made when needed.
    if (!root_) {
        root_ = rw_clump_create();
        memory_ += sizeof(RwClump) + kHeapItem;
    }
    scopes_.back().clump = root_;
    return root_;
}

// Each name is looked for once per shape, found or not.
bool ShapeReader::texture(const std::string& name, RwTexture*& out) {
    auto it = textures_.find(name);
    if (it == textures_.end()) {
        if (!rw_texture_find(name) && !budget_lookup()) return false;
        it = textures_.emplace(name, rw_texture_read_named(name)).first;
    }
    out = it->second;
    return true;
}

// Polygons of one look share a material, found without a scan of them all.
bool ShapeReader::material_index(uint32_t& index) {
    RwClump* c = current();
    const RwMaterial& m = scope().material;
    const size_t hash = look_hash(m);
    auto& looks = looks_[c];
    for (auto [it, end] = looks.equal_range(hash); it != end; ++it)
        if (c->materials[it->second].same_look(m)) {
            index = it->second;
            return true;
        }
    if (++materials_ > kMaxMaterials) return over_budget("too many materials");
    if (!budget_memory(sizeof(RwMaterial) + m.texture_name.size() + m.mask_name.size() + kHeapItem * 3))
        return false;
    c->materials.push_back(m);
    rw_texture_add_reference(m.texture);
    index = uint32_t(c->materials.size() - 1);
    looks.emplace(hash, index);
    return true;
}

// A joint's pivot is where its Translate (and Rotate) before its geometry
// put it: the transform in force at its first vertex or child clump, or at
// its end when it has neither.
void ShapeReader::take_pivot(Scope& s) {
    if (s.pivot_known || !s.clump) return;
    pivots_.emplace(s.clump, s.ctm);
    s.pivot_known = true;
}

bool ShapeReader::add_vertex(RwV3 p, float u, float v) {
    current();
    take_pivot(scope());
    RwV3 q = transform_point(scope().ctm, p);
    if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z)) return fail("vertex out of range");
    current()->vertices.push_back({q, u, v});
    return true;
}

bool ShapeReader::add_polygon(const long long* indices, size_t n, int tag, bool relative) {
    RwClump* c = current();
    if (!budget_memory(sizeof(RwPolygon) + kHeapItem + n * sizeof(uint32_t))) return false;
    const size_t base = relative ? scope().vertex_base : 0;
    const size_t have = c->vertices.size() - std::min(base, c->vertices.size());
    RwPolygon p;
    p.tag = tag;
    p.v.reserve(n);
    for (size_t k = 0; k < n; ++k) {
        const long long i = indices[k];
        if (i < 1 || size_t(i) > have) return fail("vertex index " + std::to_string(i) + " out of range");
        p.v.push_back(uint32_t(base + size_t(i) - 1));
    }
    if (!material_index(p.material)) return false;
    c->polygons.push_back(std::move(p));
    return true;
}

bool ShapeReader::read_tag(const Line& t, size_t at, int& tag) {
    tag = 0;
    if (t.size() <= at) return true;
    if (!equal_ignoring_case(t[at], "tag")) return true;  // anything else after the indices is ignored
    long long v;
    if (t.size() <= at + 1 || !parse_int(t[at + 1], v)) return fail("bad tag");
    tag = int(v);
    return true;
}

// Simple solids around the origin, in the current material and transform.
bool ShapeReader::primitive(const Line& t, std::string_view k) {
    const size_t first = current()->vertices.size();
    auto vert = [&](float x, float y, float z, float u, float v) {
        return add_vertex({x, y, z}, u, v);
    };
    auto poly_n = [&](long long* idx, size_t n) {
        for (size_t i = 0; i < n; ++i) idx[i] += static_cast<long long>(first) + 1;
        return add_polygon(idx, n, 0, false);
    };
    auto poly = [&](std::initializer_list<long long> corners) {
        long long idx[4];
        std::copy(corners.begin(), corners.end(), idx);
        return poly_n(idx, corners.size());
    };
    auto sides_ok = [&](long long n) { return n >= 3 && n <= kMaxSides ? true : fail("bad side count"); };
    const float two_pi = 6.2831853f;
    if (k == "block") {
        float s[3];
        if (!floats(t, 1, 3, s)) return false;
        const float x = s[0] / 2, y = s[1] / 2, z = s[2] / 2;
        if (!budget_vertices(24)) return false;
        // Four vertices per face so that every face maps the whole texture.
        const float faces[6][4][3] = {
            {{-x, -y, -z}, {-x, y, -z}, {x, y, -z}, {x, -y, -z}},
            {{x, -y, z}, {x, y, z}, {-x, y, z}, {-x, -y, z}},
            {{-x, -y, z}, {-x, y, z}, {-x, y, -z}, {-x, -y, -z}},
            {{x, -y, -z}, {x, y, -z}, {x, y, z}, {x, -y, z}},
            {{-x, y, -z}, {-x, y, z}, {x, y, z}, {x, y, -z}},
            {{-x, -y, z}, {-x, -y, -z}, {x, -y, -z}, {x, -y, z}},
        };
        const float uv[4][2] = {{0, 1}, {0, 0}, {1, 0}, {1, 1}};
        for (int f = 0; f < 6; ++f) {
            for (int i = 0; i < 4; ++i)
                if (!vert(faces[f][i][0], faces[f][i][1], faces[f][i][2], uv[i][0], uv[i][1])) return false;
            if (!poly({f * 4, f * 4 + 1, f * 4 + 2, f * 4 + 3})) return false;
        }
        return true;
    }
    if (k == "cone" || k == "cylinder") {
        const bool cone = k == "cone";
        float a[3];
        long long n;
        if (!floats(t, 1, cone ? 2 : 3, a)) return false;
        if (t.size() < size_t(cone ? 4 : 5) || !parse_int(t[cone ? 3 : 4], n)) return fail("missing side count");
        if (!sides_ok(n)) return false;
        const float h = a[0], r0 = a[1], r1 = cone ? 0 : a[2];
        if (!budget_vertices(size_t(n) * 2 + 2)) return false;
        for (long long i = 0; i < n; ++i) {
            float ang = two_pi * float(i) / float(n), u = float(i) / float(n);
            if (!vert(std::sin(ang) * r0, 0, std::cos(ang) * r0, u, 1)) return false;
            if (!vert(std::sin(ang) * r1, h, std::cos(ang) * r1, u, 0)) return false;
        }
        for (long long i = 0; i < n; ++i) {
            long long j = (i + 1) % n;
            if (!poly({2 * i, 2 * j, 2 * j + 1, 2 * i + 1})) return false;
        }
        std::vector<long long> bottom, top;
        for (long long i = n - 1; i >= 0; --i) bottom.push_back(2 * i);
        for (long long i = 0; i < n; ++i) top.push_back(2 * i + 1);
        if (!poly_n(bottom.data(), bottom.size())) return false;
        return cone || poly_n(top.data(), top.size());
    }
    if (k == "disc") {
        float a[2];
        long long n;
        if (!floats(t, 1, 2, a)) return false;
        if (t.size() < 4 || !parse_int(t[3], n)) return fail("missing side count");
        if (!sides_ok(n) || !budget_vertices(size_t(n))) return false;
        std::vector<long long> idx;
        for (long long i = 0; i < n; ++i) {
            float ang = two_pi * float(i) / float(n);
            if (!vert(std::sin(ang) * a[1], a[0], std::cos(ang) * a[1], 0.5f + 0.5f * std::sin(ang),
                      0.5f - 0.5f * std::cos(ang)))
                return false;
            idx.push_back(i);
        }
        return poly_n(idx.data(), idx.size());
    }
    if (k == "sphere" || k == "hemisphere") {
        const bool half = k == "hemisphere";
        float r;
        long long d;
        if (!floats(t, 1, 1, &r)) return false;
        if (t.size() < 3 || !parse_int(t[2], d)) return fail("missing density");
        if (d < 1 || d > kMaxDensity) return fail("bad density");
        const long long rings = half ? d + 1 : 2 * (d + 1), segs = 4 * (d + 1);
        const float top = 1.5707963f, bottom = half ? 0.0f : -1.5707963f;
        if (!budget_vertices(size_t((rings + 1) * (segs + 1)))) return false;
        for (long long i = 0; i <= rings; ++i) {
            float lat = top + (bottom - top) * float(i) / float(rings);
            for (long long j = 0; j <= segs; ++j) {
                float lon = two_pi * float(j) / float(segs);
                if (!vert(std::cos(lat) * std::sin(lon) * r, std::sin(lat) * r, std::cos(lat) * std::cos(lon) * r,
                          float(j) / float(segs), float(i) / float(rings)))
                    return false;
            }
        }
        for (long long i = 0; i < rings; ++i)
            for (long long j = 0; j < segs; ++j) {
                long long a0 = i * (segs + 1) + j, b0 = a0 + segs + 1;
                if (i == 0) {
                    if (!poly({a0, b0, b0 + 1})) return false;
                } else if (!half && i == rings - 1) {
                    if (!poly({a0, b0, a0 + 1})) return false;
                } else if (!poly({a0, b0, b0 + 1, a0 + 1})) {
                    return false;
                }
            }
        return true;
    }
    return true;
}

bool ShapeReader::statement(const Line& t, int proto_depth) {
    if (++statements_ > kMaxStatements) return over_budget("too many statements");
    if ((words_ += t.size()) > kMaxWords) return over_budget("too many words in statements");
    // The keyword in lower case, once; a longer word is no keyword.
    char key[24];
    const size_t key_size = t[0].size() <= sizeof key ? t[0].size() : 0;
    for (size_t i = 0; i < key_size; ++i) key[i] = ascii_lower(t[0][i]);
    const std::string_view k(key, key_size);
    // While a prototype is being defined its statements are only recorded.
    if (proto_) {
        if (k == "protoend") {
            protos_[proto_name_] = std::move(proto_);
            return true;
        }
        if (k == "protobegin") return fail("prototype inside a prototype");
        if (!budget_memory(sizeof(Line) + kHeapItem + t.size() * sizeof(std::string_view))) return false;
        proto_->push_back(t);
        return true;
    }
    if (k == "modelbegin" || k == "modelend") return true;
    if (k == "clumpbegin") {
        if (scopes_.size() > kMaxClumpDepth) return fail("clumps nested too deeply");
        if (!budget_memory(sizeof(RwClump) + sizeof(RwMatrix) + 4 * kHeapItem)) return false;
        take_pivot(scope());
        RwClump* c = rw_clump_create();
        RwClump* parent = scopes_.back().clump;
        if (parent) rw_clump_add_child(parent, c);
        else if (!root_) root_ = c;
        else rw_clump_add_child(root_, c);  // later top-level clumps join the first
        Scope s = scopes_.back();
        s.clump = c;
        s.vertex_base = 0;
        s.pivot_known = false;
        scopes_.push_back(s);
        return true;
    }
    if (k == "clumpend") {
        if (scopes_.size() <= floor_) return fail("ClumpEnd without ClumpBegin");
        take_pivot(scope());
        scopes_.pop_back();
        return true;
    }
    if (k == "protobegin") {
        if (t.size() < 2) return fail("prototype without a name");
        proto_name_ = lower_case(t[1]);
        proto_ = std::make_shared<Body>();
        return true;
    }
    if (k == "protoend") return fail("ProtoEnd without ProtoBegin");
    if (k == "protoinstance" || k == "protoinstancegeometry") {
        if (t.size() < 2) return fail("prototype instance without a name");
        const std::string name = lower_case(t[1]);
        auto it = protos_.find(name);
        if (it == protos_.end()) return fail("unknown prototype " + name);
        if (proto_depth >= kMaxProtoDepth) return fail("prototypes nested too deeply");
        current();
        const size_t depth = scopes_.size();
        Scope s = scope();
        s.base = s.ctm;
        s.vertex_base = s.clump->vertices.size();
        scopes_.push_back(s);
        // The instance scope shares the clump; clumps opened inside it are
        // closed with it.
        const std::shared_ptr<const Body> body = it->second;
        const size_t old_floor = floor_;
        floor_ = depth + 1;
        for (const Line& l : *body)
            if (!statement(l, proto_depth + 1)) return false;
        floor_ = old_floor;
        scopes_.resize(depth);
        return true;
    }
    if (k == "transformbegin" || k == "jointtransformbegin") {
        if (transform_stack_.size() >= kMaxTransformDepth) return fail("transforms nested too deeply");
        transform_stack_.push_back(scope().ctm);
        return true;
    }
    if (k == "transformend" || k == "jointtransformend") {
        if (!transform_stack_.empty()) {
            scope().ctm = transform_stack_.back();
            transform_stack_.pop_back();
        }
        return true;
    }
    if (k == "identity") {
        scope().ctm = scope().base;
        return true;
    }
    if (k == "transform") {
        float m[16];
        if (!floats(t, 1, 16, m)) return false;
        RwMatrix mat;
        std::memcpy(mat.m, m, sizeof m);
        scope().ctm = scope().base * mat;
        return true;
    }
    if (k == "translate" || k == "scale") {
        float v[3];
        if (!floats(t, 1, 3, v)) return false;
        scope().ctm = scope().ctm * (k == "scale" ? matrix_scale(v[0], v[1], v[2])
                                                        : matrix_translation(v[0], v[1], v[2]));
        return true;
    }
    if (k == "rotate") {
        float v[4];
        if (!floats(t, 1, 4, v)) return false;
        scope().ctm = scope().ctm * matrix_rotation({v[0], v[1], v[2]}, v[3]);
        return true;
    }
    if (k == "vertex" || k == "vertexext") {
        float p[3], uv[2] = {0, 0};
        if (!floats(t, 1, 3, p)) return false;
        if (t.size() > 4 && equal_ignoring_case(t[4], "uv") && !floats(t, 5, 2, uv)) return false;
        return budget_vertices(1) && add_vertex({p[0], p[1], p[2]}, uv[0], uv[1]);
    }
    if (k == "triangle" || k == "triangleext" || k == "quad" || k == "quadext" ||
        k == "polygon" || k == "polygonext") {
        size_t first = 1, n;
        if (k[0] == 't') {
            n = 3;
        } else if (k[0] == 'q') {
            n = 4;
        } else {
            long long count;
            if (t.size() < 2 || !parse_int(t[1], count)) return fail("polygon without a vertex count");
            if (count < 3 || count > kMaxPolygonVertices) return fail("bad polygon vertex count");
            n = size_t(count);
            first = 2;
        }
        if (t.size() < first + n) return fail("missing vertex indices");
        indices_.resize(n);
        for (size_t i = 0; i < n; ++i)
            if (!parse_int(t[first + i], indices_[i]))
                return fail("bad vertex index '" + std::string(t[first + i]) + "'");
        int tag;
        if (!read_tag(t, first + n, tag)) return false;
        return add_polygon(indices_.data(), n, tag, true);
    }
    RwMaterial& m = scope().material;
    if (k == "color") {
        float c[3];
        if (!floats(t, 1, 3, c)) return false;
        m.r = std::clamp(c[0], 0.0f, 1.0f);
        m.g = std::clamp(c[1], 0.0f, 1.0f);
        m.b = std::clamp(c[2], 0.0f, 1.0f);
        return true;
    }
    if (k == "surface") {
        float s[3];
        if (!floats(t, 1, 3, s)) return false;
        m.ambient = s[0];
        m.diffuse = s[1];
        m.specular = s[2];
        return true;
    }
    if (k == "ambient" || k == "diffuse" || k == "specular" || k == "opacity") {
        float v;
        if (!floats(t, 1, 1, &v)) return false;
        float& target = k == "ambient"    ? m.ambient
                        : k == "diffuse"  ? m.diffuse
                        : k == "specular" ? m.specular
                                          : m.opacity;
        target = k == "opacity" ? std::clamp(v, 0.0f, 1.0f) : v;
        return true;
    }
    if (k == "texture" || k == "textureext") {
        m.texture = nullptr;
        m.texture_name.clear();
        m.mask_name.clear();
        if (t.size() < 2 || equal_ignoring_case(t[1], "null")) return true;
        std::string name(t[1].substr(0, t[1].find('.')));
        if (!rw_name_is_safe(name)) return true;  // never becomes a path
        m.texture_name = name;
        if (!texture(name, m.texture)) return false;
        for (size_t i = 2; i + 1 < t.size(); ++i)
            if (equal_ignoring_case(t[i], "mask")) {
                std::string mask(t[i + 1].substr(0, t[i + 1].find('.')));
                if (!rw_name_is_safe(mask)) break;
                m.mask_name = mask;
                if (m.texture && !m.texture->mask && !missing_masks_.count(mask)) {
                    if (!budget_lookup()) return false;
                    if (RwRaster* r = rw_raster_read_named(mask)) {
                        rw_texture_mask(m.texture, r);
                        rw_raster_destroy(r);
                    } else {
                        missing_masks_.insert(mask);
                    }
                }
                break;
            }
        return true;
    }
    if (k == "lightsampling") {
        if (t.size() > 1)
            m.light = equal_ignoring_case(t[1], "vertex") ? RwLightSampling::vertex : RwLightSampling::facet;
        return true;
    }
    if (k == "geometrysampling") {
        if (t.size() > 1)
            m.geometry = equal_ignoring_case(t[1], "wireframe")    ? RwGeometrySampling::wireframe
                         : equal_ignoring_case(t[1], "pointcloud") ? RwGeometrySampling::pointcloud
                                                      : RwGeometrySampling::solid;
        return true;
    }
    auto texture_mode = [](std::string_view w) -> uint8_t {
        if (equal_ignoring_case(w, "lit")) return rw_texture_lit;
        if (equal_ignoring_case(w, "foreshorten")) return rw_texture_foreshorten;
        if (equal_ignoring_case(w, "filter")) return rw_texture_filter;
        return 0;
    };
    if (k == "texturemode" || k == "texturemodes") {
        m.texture_modes = 0;
        for (size_t i = 1; i < t.size(); ++i) m.texture_modes |= texture_mode(t[i]);
        return true;
    }
    if (k == "addtexturemode") {
        for (size_t i = 1; i < t.size(); ++i) m.texture_modes |= texture_mode(t[i]);
        return true;
    }
    if (k == "removetexturemode") {
        for (size_t i = 1; i < t.size(); ++i) m.texture_modes &= uint8_t(~texture_mode(t[i]));
        return true;
    }
    if (k == "materialmode" || k == "materialmodes" || k == "addmaterialmode" ||
        k == "removematerialmode") {
        uint8_t bits = 0;
        for (size_t i = 1; i < t.size(); ++i)
            if (equal_ignoring_case(t[i], "double")) bits |= rw_material_double;
        if (k == "addmaterialmode") m.material_modes |= bits;
        else if (k == "removematerialmode") m.material_modes &= uint8_t(~bits);
        else m.material_modes = bits;
        return true;
    }
    if (k == "tag") {
        long long v;
        if (t.size() < 2 || !parse_int(t[1], v)) return fail("bad tag");
        current()->tag = int(v);
        return true;
    }
    if (k == "axisalignment") {
        if (t.size() > 1)
            current()->alignment = equal_ignoring_case(t[1], "zorientx")    ? RwAxisAlignment::zorient_x
                                   : equal_ignoring_case(t[1], "zorientxy") ? RwAxisAlignment::zorient_xy
                                                               : RwAxisAlignment::none;
        return true;
    }
    if (k == "block" || k == "cone" || k == "cylinder" || k == "disc" ||
        k == "sphere" || k == "hemisphere")
        return primitive(t, k);
    return true;  // statements we do not know are skipped
}

// Vertices were placed in the model's space. A joint (not the root) gets
// its pivot as its frame: its matrix takes it there from its parent's frame,
// and its vertices and those of its non-joint descendants are given in it.
// Without joints nothing changes.
bool ShapeReader::localize(RwClump* c, const RwMatrix& parent_frame, bool framed) {
    RwMatrix frame = parent_frame;
    if (c != root_ && c->tag >= kFirstJointTag && c->tag <= kLastJointTag) {
        auto it = pivots_.find(c);
        const RwMatrix& p = it != pivots_.end() ? it->second : parent_frame;
        const float det = p.at(0, 0) * (p.at(1, 1) * p.at(2, 2) - p.at(1, 2) * p.at(2, 1)) -
                          p.at(0, 1) * (p.at(1, 0) * p.at(2, 2) - p.at(1, 2) * p.at(2, 0)) +
                          p.at(0, 2) * (p.at(1, 0) * p.at(2, 1) - p.at(1, 1) * p.at(2, 0));
        // A pivot squashed flat has no frame to turn in: the clump stays in its parent's.
        if (std::fabs(det) > 1e-12f) {
            c->matrix = matrix_inverse(parent_frame) * p;
            frame = p;
            framed = true;
        }
    }
    if (framed) {
        const RwMatrix to_local = matrix_inverse(frame);
        for (RwVertex& v : c->vertices) {
            v.p = transform_point(to_local, v.p);
            if (!std::isfinite(v.p.x) || !std::isfinite(v.p.y) || !std::isfinite(v.p.z))
                return fail("vertex out of range");
        }
    }
    for (RwClump* child : c->children)
        if (!localize(child, frame, framed)) return false;
    return true;
}

RwClump* ShapeReader::read(std::string_view text, std::string* error) {
    scopes_.push_back(Scope{nullptr, RwMatrix{}, RwMatrix{}, RwMaterial{}, 0});
    size_t pos = 0;
    bool ok = true;
    while (ok && pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++line_no_;
        if (size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        Line tokens;
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (std::isspace(static_cast<unsigned char>(line[i])) || line[i] == ','))
                ++i;
            size_t s = i;
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])) && line[i] != ',') ++i;
            if (i > s && tokens.size() < kMaxLineWords) tokens.push_back(line.substr(s, i - s));
        }
        if (tokens.empty()) continue;
        if (line.find('\0') != std::string_view::npos) {
            ok = fail("NUL byte in the text");
            break;
        }
        // Recorded prototype lines point into `text`, which outlives the read.
        ok = statement(tokens, 0);
    }
    if (ok && proto_) ok = fail("ProtoBegin without ProtoEnd");
    if (ok && !root_) ok = fail("no clump in the shape");
    if (ok) ok = localize(root_, RwMatrix{}, false);
    if (!ok) {
        if (error) *error = error_;
        return nullptr;
    }
    RwClump* r = root_;
    root_ = nullptr;
    return r;
}

}  // namespace

RwClump* rw_read_shape_text(std::string_view text, std::string* error) {
    if (text.size() > kMaxTextBytes) {
        render_set_error(render_error_too_large);
        if (error) *error = "shape text too large";
        return nullptr;
    }
    std::string why;
    RwClump* c = nullptr;
    int code = render_error_bad_shape;
    try {
        ShapeReader reader;
        c = reader.read(text, &why);
        if (reader.too_large()) code = render_error_too_large;
    } catch (const std::bad_alloc&) {  // the budgets should never let it come to this
        c = nullptr;
        why = "out of memory";
        code = render_error_out_of_memory;
    }
    if (!c) {
        render_set_error(code);
        if (error) *error = why;
    }
    return c;
}

RwClump* rw_read_shape(const std::string& path, std::string* error) {
    std::string text;
    if (!rw_read_file(path, text, kMaxTextBytes)) {
        render_set_error(render_error_no_file);
        if (error) *error = "cannot read " + path;
        return nullptr;
    }
    return rw_read_shape_text(text, error);
}

}  // namespace zk
