#include "render/rwx.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <vector>

#include "render/io.h"
#include "render/library.h"

namespace zk {

namespace {

constexpr int kMaxClumpDepth = 64;
constexpr int kMaxProtoDepth = 8;
constexpr int kMaxTransformDepth = 256;
constexpr int kMaxSides = 256;
constexpr int kMaxDensity = 64;
constexpr int kMaxPolygonVertices = 4096;

bool iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

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
    float f;
    if (!parse_float(s, f) || f != std::floor(f) || std::fabs(f) > 2e9f) return false;
    out = static_cast<long long>(f);
    return true;
}

using Line = std::vector<std::string_view>;

struct Scope {
    RwClump* clump;
    RwMatrix ctm, base;
    RwMaterial material;
    size_t vertex_base = 0;
};

class ShapeReader {
public:
    ~ShapeReader() {
        for (auto& [name, t] : textures_) rw_texture_destroy(t);
        if (root_) rw_clump_destroy(root_);
    }

    RwClump* read(std::string_view text, std::string* error);

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
    uint32_t material_index();
    RwTexture* texture(const std::string& name);
    bool add_vertex(RwV3 p, float u, float v);
    bool add_polygon(const std::vector<long long>& indices, int tag, bool relative);
    bool read_tag(const Line& t, size_t at, int& tag);
    bool primitive(const Line& t);
    bool budget_vertices(size_t n) {
        if (total_vertices_ + n > kRwxMaxVertices) return fail("too many vertices");
        return true;
    }

    RwClump* root_ = nullptr;
    std::vector<Scope> scopes_;
    std::vector<RwMatrix> transform_stack_;
    std::map<std::string, std::vector<Line>> protos_;
    std::vector<Line>* proto_ = nullptr;  // the prototype being recorded
    size_t floor_ = 1;                     // scopes a ClumpEnd may not close
    std::map<std::string, RwTexture*> textures_;
    size_t total_vertices_ = 0, total_polygons_ = 0;
    int line_no_ = 0;
    std::string error_;
};

RwClump* ShapeReader::current() {
    if (scopes_.back().clump) return scopes_.back().clump;
    // Geometry outside any clump goes into the root, made when needed.
    if (!root_) root_ = rw_clump_create();
    scopes_.back().clump = root_;
    return root_;
}

RwTexture* ShapeReader::texture(const std::string& name) {
    auto it = textures_.find(name);
    if (it != textures_.end()) return it->second;
    RwTexture* t = rw_texture_read_named(name);
    textures_[name] = t;
    return t;
}

uint32_t ShapeReader::material_index() {
    RwClump* c = current();
    const RwMaterial& m = scope().material;
    for (size_t i = 0; i < c->materials.size(); ++i)
        if (c->materials[i].same_look(m)) return uint32_t(i);
    c->materials.push_back(m);
    rw_texture_add_reference(m.texture);
    return uint32_t(c->materials.size() - 1);
}

bool ShapeReader::add_vertex(RwV3 p, float u, float v) {
    if (!budget_vertices(1)) return false;
    RwV3 q = transform_point(scope().ctm, p);
    if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z)) return fail("vertex out of range");
    current()->vertices.push_back({q, u, v});
    ++total_vertices_;
    return true;
}

bool ShapeReader::add_polygon(const std::vector<long long>& indices, int tag, bool relative) {
    RwClump* c = current();
    if (++total_polygons_ > kRwxMaxPolygons) return fail("too many polygons");
    const size_t base = relative ? scope().vertex_base : 0;
    const size_t have = c->vertices.size() - std::min(base, c->vertices.size());
    RwPolygon p;
    p.tag = tag;
    p.v.reserve(indices.size());
    for (long long i : indices) {
        if (i < 1 || size_t(i) > have) return fail("vertex index " + std::to_string(i) + " out of range");
        p.v.push_back(uint32_t(base + size_t(i) - 1));
    }
    p.material = material_index();
    c->polygons.push_back(std::move(p));
    return true;
}

bool ShapeReader::read_tag(const Line& t, size_t at, int& tag) {
    tag = 0;
    if (t.size() <= at) return true;
    if (!iequal(t[at], "tag")) return true;  // anything else after the indices is ignored
    long long v;
    if (t.size() <= at + 1 || !parse_int(t[at + 1], v)) return fail("bad tag");
    tag = int(v);
    return true;
}

// Simple solids around the origin, in the current material and transform.
bool ShapeReader::primitive(const Line& t) {
    const std::string_view k = t[0];
    const size_t first = current()->vertices.size();
    auto vert = [&](float x, float y, float z, float u, float v) {
        return add_vertex({x, y, z}, u, v);
    };
    auto poly = [&](std::vector<long long> idx) {
        for (long long& i : idx) i += static_cast<long long>(first) + 1;
        return add_polygon(idx, 0, false);
    };
    auto sides_ok = [&](long long n) { return n >= 3 && n <= kMaxSides ? true : fail("bad side count"); };
    const float two_pi = 6.2831853f;
    if (iequal(k, "block")) {
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
    if (iequal(k, "cone") || iequal(k, "cylinder")) {
        const bool cone = iequal(k, "cone");
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
        if (!poly(bottom)) return false;
        return cone || poly(top);
    }
    if (iequal(k, "disc")) {
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
        return poly(idx);
    }
    if (iequal(k, "sphere") || iequal(k, "hemisphere")) {
        const bool half = iequal(k, "hemisphere");
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
    const std::string_view k = t[0];
    // While a prototype is being defined its statements are only recorded.
    if (proto_) {
        if (iequal(k, "protoend")) {
            proto_ = nullptr;
            return true;
        }
        if (iequal(k, "protobegin")) return fail("prototype inside a prototype");
        proto_->push_back(t);
        return true;
    }
    if (iequal(k, "modelbegin") || iequal(k, "modelend")) return true;
    if (iequal(k, "clumpbegin")) {
        if (scopes_.size() > kMaxClumpDepth) return fail("clumps nested too deeply");
        RwClump* c = rw_clump_create();
        RwClump* parent = scopes_.back().clump;
        if (parent) rw_clump_add_child(parent, c);
        else if (!root_) root_ = c;
        else rw_clump_add_child(root_, c);  // later top-level clumps join the first
        Scope s = scopes_.back();
        s.clump = c;
        s.vertex_base = 0;
        scopes_.push_back(s);
        return true;
    }
    if (iequal(k, "clumpend")) {
        if (scopes_.size() <= floor_) return fail("ClumpEnd without ClumpBegin");
        scopes_.pop_back();
        return true;
    }
    if (iequal(k, "protobegin")) {
        if (t.size() < 2) return fail("prototype without a name");
        std::string name(t[1]);
        for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
        auto& lines = protos_[name];
        lines.clear();
        proto_ = &lines;
        return true;
    }
    if (iequal(k, "protoend")) return fail("ProtoEnd without ProtoBegin");
    if (iequal(k, "protoinstance") || iequal(k, "protoinstancegeometry")) {
        if (t.size() < 2) return fail("prototype instance without a name");
        std::string name(t[1]);
        for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
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
        const std::vector<Line> lines = it->second;
        const size_t old_floor = floor_;
        floor_ = depth + 1;
        for (const Line& l : lines)
            if (!statement(l, proto_depth + 1)) return false;
        floor_ = old_floor;
        scopes_.resize(depth);
        return true;
    }
    if (iequal(k, "transformbegin") || iequal(k, "jointtransformbegin")) {
        if (transform_stack_.size() >= kMaxTransformDepth) return fail("transforms nested too deeply");
        transform_stack_.push_back(scope().ctm);
        return true;
    }
    if (iequal(k, "transformend") || iequal(k, "jointtransformend")) {
        if (!transform_stack_.empty()) {
            scope().ctm = transform_stack_.back();
            transform_stack_.pop_back();
        }
        return true;
    }
    if (iequal(k, "identity")) {
        scope().ctm = scope().base;
        return true;
    }
    if (iequal(k, "transform")) {
        float m[16];
        if (!floats(t, 1, 16, m)) return false;
        RwMatrix mat;
        std::memcpy(mat.m, m, sizeof m);
        scope().ctm = scope().base * mat;
        return true;
    }
    if (iequal(k, "translate") || iequal(k, "scale")) {
        float v[3];
        if (!floats(t, 1, 3, v)) return false;
        scope().ctm = scope().ctm * (iequal(k, "scale") ? matrix_scale(v[0], v[1], v[2])
                                                        : matrix_translation(v[0], v[1], v[2]));
        return true;
    }
    if (iequal(k, "rotate")) {
        float v[4];
        if (!floats(t, 1, 4, v)) return false;
        scope().ctm = scope().ctm * matrix_rotation({v[0], v[1], v[2]}, v[3]);
        return true;
    }
    if (iequal(k, "vertex") || iequal(k, "vertexext")) {
        float p[3], uv[2] = {0, 0};
        if (!floats(t, 1, 3, p)) return false;
        if (t.size() > 4 && iequal(t[4], "uv") && !floats(t, 5, 2, uv)) return false;
        return add_vertex({p[0], p[1], p[2]}, uv[0], uv[1]);
    }
    if (iequal(k, "triangle") || iequal(k, "triangleext") || iequal(k, "quad") || iequal(k, "quadext") ||
        iequal(k, "polygon") || iequal(k, "polygonext")) {
        size_t first = 1, n;
        if (std::tolower(static_cast<unsigned char>(k[0])) == 't') {
            n = 3;
        } else if (std::tolower(static_cast<unsigned char>(k[0])) == 'q') {
            n = 4;
        } else {
            long long count;
            if (t.size() < 2 || !parse_int(t[1], count)) return fail("polygon without a vertex count");
            if (count < 3 || count > kMaxPolygonVertices) return fail("bad polygon vertex count");
            n = size_t(count);
            first = 2;
        }
        if (t.size() < first + n) return fail("missing vertex indices");
        std::vector<long long> idx(n);
        for (size_t i = 0; i < n; ++i)
            if (!parse_int(t[first + i], idx[i])) return fail("bad vertex index '" + std::string(t[first + i]) + "'");
        int tag;
        if (!read_tag(t, first + n, tag)) return false;
        return add_polygon(idx, tag, true);
    }
    RwMaterial& m = scope().material;
    if (iequal(k, "color")) {
        float c[3];
        if (!floats(t, 1, 3, c)) return false;
        m.r = std::clamp(c[0], 0.0f, 1.0f);
        m.g = std::clamp(c[1], 0.0f, 1.0f);
        m.b = std::clamp(c[2], 0.0f, 1.0f);
        return true;
    }
    if (iequal(k, "surface")) {
        float s[3];
        if (!floats(t, 1, 3, s)) return false;
        m.ambient = s[0];
        m.diffuse = s[1];
        m.specular = s[2];
        return true;
    }
    if (iequal(k, "ambient") || iequal(k, "diffuse") || iequal(k, "specular") || iequal(k, "opacity")) {
        float v;
        if (!floats(t, 1, 1, &v)) return false;
        float& target = iequal(k, "ambient") ? m.ambient
                        : iequal(k, "diffuse") ? m.diffuse
                        : iequal(k, "specular") ? m.specular
                                                : m.opacity;
        target = iequal(k, "opacity") ? std::clamp(v, 0.0f, 1.0f) : v;
        return true;
    }
    if (iequal(k, "texture") || iequal(k, "textureext")) {
        m.texture = nullptr;
        m.texture_name.clear();
        m.mask_name.clear();
        if (t.size() < 2 || iequal(t[1], "null")) return true;
        std::string name(t[1].substr(0, t[1].find('.')));
        if (!rw_name_is_safe(name)) return true;  // never becomes a path
        m.texture_name = name;
        m.texture = texture(name);
        for (size_t i = 2; i + 1 < t.size(); ++i)
            if (iequal(t[i], "mask")) {
                std::string mask(t[i + 1].substr(0, t[i + 1].find('.')));
                if (!rw_name_is_safe(mask)) break;
                m.mask_name = mask;
                if (m.texture && !m.texture->mask) {
                    if (RwRaster* r = rw_raster_read_named(mask)) {
                        rw_texture_mask(m.texture, r);
                        rw_raster_destroy(r);
                    }
                }
                break;
            }
        return true;
    }
    if (iequal(k, "lightsampling")) {
        if (t.size() > 1) m.light = iequal(t[1], "vertex") ? RwLightSampling::vertex : RwLightSampling::facet;
        return true;
    }
    if (iequal(k, "geometrysampling")) {
        if (t.size() > 1)
            m.geometry = iequal(t[1], "wireframe")    ? RwGeometrySampling::wireframe
                         : iequal(t[1], "pointcloud") ? RwGeometrySampling::pointcloud
                                                      : RwGeometrySampling::solid;
        return true;
    }
    auto texture_mode = [](std::string_view w) -> uint8_t {
        if (iequal(w, "lit")) return rw_texture_lit;
        if (iequal(w, "foreshorten")) return rw_texture_foreshorten;
        if (iequal(w, "filter")) return rw_texture_filter;
        return 0;
    };
    if (iequal(k, "texturemode") || iequal(k, "texturemodes")) {
        m.texture_modes = 0;
        for (size_t i = 1; i < t.size(); ++i) m.texture_modes |= texture_mode(t[i]);
        return true;
    }
    if (iequal(k, "addtexturemode")) {
        for (size_t i = 1; i < t.size(); ++i) m.texture_modes |= texture_mode(t[i]);
        return true;
    }
    if (iequal(k, "removetexturemode")) {
        for (size_t i = 1; i < t.size(); ++i) m.texture_modes &= uint8_t(~texture_mode(t[i]));
        return true;
    }
    if (iequal(k, "materialmode") || iequal(k, "materialmodes") || iequal(k, "addmaterialmode") ||
        iequal(k, "removematerialmode")) {
        uint8_t bits = 0;
        for (size_t i = 1; i < t.size(); ++i)
            if (iequal(t[i], "double")) bits |= rw_material_double;
        if (iequal(k, "addmaterialmode")) m.material_modes |= bits;
        else if (iequal(k, "removematerialmode")) m.material_modes &= uint8_t(~bits);
        else m.material_modes = bits;
        return true;
    }
    if (iequal(k, "tag")) {
        long long v;
        if (t.size() < 2 || !parse_int(t[1], v)) return fail("bad tag");
        current()->tag = int(v);
        return true;
    }
    if (iequal(k, "axisalignment")) {
        if (t.size() > 1)
            current()->alignment = iequal(t[1], "zorientx")    ? RwAxisAlignment::zorient_x
                                   : iequal(t[1], "zorientxy") ? RwAxisAlignment::zorient_xy
                                                               : RwAxisAlignment::none;
        return true;
    }
    if (iequal(k, "block") || iequal(k, "cone") || iequal(k, "cylinder") || iequal(k, "disc") ||
        iequal(k, "sphere") || iequal(k, "hemisphere"))
        return primitive(t);
    return true;  // statements we do not know are skipped
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
            if (i > s) tokens.push_back(line.substr(s, i - s));
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
    if (text.size() > kRwxMaxBytes) {
        render_set_error(render_error_too_large);
        if (error) *error = "shape text too large";
        return nullptr;
    }
    std::string why;
    ShapeReader reader;
    RwClump* c = reader.read(text, &why);
    if (!c) {
        render_set_error(why.find("too many") != std::string::npos ? render_error_too_large : render_error_bad_shape);
        if (error) *error = why;
    }
    return c;
}

RwClump* rw_read_shape(const std::string& path, std::string* error) {
    std::string text;
    if (!rw_read_file(path, text, kRwxMaxBytes)) {
        render_set_error(render_error_no_file);
        if (error) *error = "cannot read " + path;
        return nullptr;
    }
    return rw_read_shape_text(text, error);
}

}  // namespace zk
