#include "render/gl/gl_device.h"

#include <epoxy/gl.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <unordered_map>
#include <vector>

namespace zk {

namespace {

const char* kVertexShader = R"(#version 330 core
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 uv;
layout(location = 3) in mat4 model;   // one per drawn clump (locations 3..6)
uniform mat4 view;
uniform mat4 projection;
out vec3 world_normal;
out vec2 tex_uv;
void main() {
    world_normal = mat3(model) * normal;
    tex_uv = uv;
    gl_Position = projection * view * model * vec4(position, 1.0);
    gl_PointSize = 2.0;
}
)";

const char* kFragmentShader = R"(#version 330 core
in vec3 world_normal;
in vec2 tex_uv;
uniform vec4 colour;          // material colour and opacity
uniform vec3 surface;         // ambient, diffuse, specular
uniform bool textured;
uniform bool lit;
uniform sampler2D image;
uniform float ambient_light;
uniform int light_count;
uniform vec3 light_dir[4];    // the way each light travels
uniform float light_power[4];
out vec4 frag;
void main() {
    vec4 base = textured ? texture(image, tex_uv) : vec4(colour.rgb, 1.0);
    if (base.a < 0.5) discard;  // masked out
    float light = 1.0;
    if (lit) {
        vec3 n = normalize(world_normal);
        if (!gl_FrontFacing) n = -n;
        light = surface.x * ambient_light;
        for (int i = 0; i < light_count; ++i)
            light += surface.y * light_power[i] * max(dot(n, -light_dir[i]), 0.0);
    }
    frag = vec4(base.rgb * min(light, 1.0), colour.a);
}
)";

const char* kFlatVertexShader = R"(#version 330 core
layout(location = 0) in vec2 position;   // pixels from the viewport's top left
layout(location = 1) in vec2 uv;
uniform vec2 size;                       // viewport size in pixels
out vec2 tex_uv;
void main() {
    tex_uv = uv;
    gl_Position = vec4(position.x / size.x * 2.0 - 1.0, 1.0 - position.y / size.y * 2.0, 0.0, 1.0);
}
)";

const char* kFlatFragmentShader = R"(#version 330 core
in vec2 tex_uv;
uniform sampler2D image;
out vec4 frag;
void main() { frag = texture(image, tex_uv); }
)";

GLuint compile(GLenum kind, const char* text) {
    GLuint s = glCreateShader(kind);
    glShaderSource(s, 1, &text, nullptr);
    glCompileShader(s);
    GLint ok = 0;
    glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        glDeleteShader(s);
        return 0;
    }
    return s;
}

GLuint link(const char* vs, const char* fs) {
    GLuint v = compile(GL_VERTEX_SHADER, vs), f = compile(GL_FRAGMENT_SHADER, fs);
    if (!v || !f) {
        if (v) glDeleteShader(v);
        if (f) glDeleteShader(f);
        return 0;
    }
    GLuint p = glCreateProgram();
    glAttachShader(p, v);
    glAttachShader(p, f);
    glLinkProgram(p);
    glDeleteShader(v);
    glDeleteShader(f);
    GLint ok = 0;
    glGetProgramiv(p, GL_LINK_STATUS, &ok);
    if (!ok) {
        glDeleteProgram(p);
        return 0;
    }
    return p;
}

struct Batch {
    GLenum mode;
    GLint first;
    GLsizei count;
    uint32_t material;
};

// The buffers of one geometry, shared by every clump that shows it, and the
// clumps of this frame that show it: one instanced draw per batch for all.
struct Shape {
    GLuint vao = 0, vbo = 0;
    std::vector<Batch> batches;
    std::vector<float> pending;  // vertices not yet sent to the GPU
    bool sent = false;
    RwV3 centre{};  // a sphere around the geometry's vertices
    float radius = 0;
    uint64_t last_frame = 0;
    // In a render: the clump whose materials it shows (every clump of the
    // geometry has the same), their placements, and the first instance.
    const RwClump* clump = nullptr;
    std::vector<RwMatrix> placed;
    size_t first = 0;
};

// A see-through batch of one drawn clump, drawn after everything opaque.
struct Deferred {
    Shape* shape;
    size_t batch;
    size_t instance;   // into shape->placed
    float distance;    // from the eye
};

struct GpuTexture {
    GLuint id = 0;
    uint32_t version = 0;
    uint64_t raster = 0;
    int width = 0, height = 0;
};

struct Target {
    GLuint fbo = 0, colour = 0, depth = 0;
    int width = 0, height = 0;
};

// Pixels of the texture's current frame (or a whole raster) as RGBA.
std::vector<uint8_t> rgba_of(const RwRaster& r, const RwRaster* mask, int first_row, int rows) {
    std::vector<uint8_t> out(size_t(r.width) * rows * 4);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < r.width; ++x) {
            RwRgba c = r.pixel(x, first_row + y);
            if (mask) c.a = mask->pixel(x, first_row + y).r;
            uint8_t* p = &out[(size_t(y) * r.width + x) * 4];
            p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = c.a;
        }
    return out;
}

}  // namespace

struct GlDevice::State {
    bool ready = false;
    GLuint program = 0, flat = 0;
    GLint u_view = -1, u_projection = -1, u_colour = -1, u_surface = -1, u_textured = -1,
          u_lit = -1, u_image = -1, u_ambient = -1, u_light_count = -1, u_light_dir = -1, u_light_power = -1;
    GLint f_size = -1, f_image = -1;
    GLuint quad_vao = 0, quad_vbo = 0, instance_vbo = 0;
    std::unordered_map<uint64_t, Shape> shapes;          // by RwClump::geometry
    std::unordered_map<uint64_t, GpuTexture> textures;   // by texture serial
    std::unordered_map<uint64_t, GpuTexture> rasters;    // backdrops and overlays, by raster serial
    std::unordered_map<uint64_t, Target> targets;        // by camera serial
    uint64_t shown_camera = 0;
    bool shown_stretch = false;
    RwRect shown_viewport;
    int shown_height = 0;
    int draw_calls = 0, counting = 0;
    int64_t rebuilds = 0, uploads = 0;
    uint64_t frame = 0;
    int64_t walk_ns = 0;
    // Kept from frame to frame so that a frame allocates nothing.
    std::vector<Shape*> drawn;
    std::vector<Deferred> translucent;
    std::vector<std::pair<const RwClump*, RwMatrix>> stack;
    std::vector<float> instances;
    size_t instance_capacity = 0;  // floats
};

GlDevice::GlDevice() : s_(std::make_unique<State>()) {}
GlDevice::~GlDevice() = default;

bool GlDevice::initialize() {
    make_current();
    if (s_->ready) return true;
    s_->program = link(kVertexShader, kFragmentShader);
    s_->flat = link(kFlatVertexShader, kFlatFragmentShader);
    if (!s_->program || !s_->flat) return false;
    // Mesa's software rasterizer bins a frame's triangles in 64 KiB blocks
    // that it frees when the frame is done: tens of MiB in a crowded view.
    // glibc would give them back to the kernel every frame and fault them
    // in again page by page, which took most of a frame's time. Keep them.
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    if (renderer && (std::strstr(renderer, "llvmpipe") || std::strstr(renderer, "softpipe")))
        mallopt(M_TRIM_THRESHOLD, 256 << 20);
    GLuint p = s_->program;
    s_->u_view = glGetUniformLocation(p, "view");
    s_->u_projection = glGetUniformLocation(p, "projection");
    s_->u_colour = glGetUniformLocation(p, "colour");
    s_->u_surface = glGetUniformLocation(p, "surface");
    s_->u_textured = glGetUniformLocation(p, "textured");
    s_->u_lit = glGetUniformLocation(p, "lit");
    s_->u_image = glGetUniformLocation(p, "image");
    s_->u_ambient = glGetUniformLocation(p, "ambient_light");
    s_->u_light_count = glGetUniformLocation(p, "light_count");
    s_->u_light_dir = glGetUniformLocation(p, "light_dir");
    s_->u_light_power = glGetUniformLocation(p, "light_power");
    s_->f_size = glGetUniformLocation(s_->flat, "size");
    s_->f_image = glGetUniformLocation(s_->flat, "image");
    glGenVertexArrays(1, &s_->quad_vao);
    glGenBuffers(1, &s_->quad_vbo);
    glGenBuffers(1, &s_->instance_vbo);
    glBindVertexArray(s_->quad_vao);
    glBindBuffer(GL_ARRAY_BUFFER, s_->quad_vbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof(float) * 16, nullptr, GL_DYNAMIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float), nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, 4 * sizeof(float), reinterpret_cast<void*>(2 * sizeof(float)));
    glBindVertexArray(0);
    s_->ready = true;
    return true;
}

void GlDevice::release() {
    make_current();
    for (auto& [k, c] : s_->shapes) {
        glDeleteBuffers(1, &c.vbo);
        glDeleteVertexArrays(1, &c.vao);
    }
    for (auto* m : {&s_->textures, &s_->rasters})
        for (auto& [k, t] : *m) glDeleteTextures(1, &t.id);
    for (auto& [k, t] : s_->targets) {
        glDeleteFramebuffers(1, &t.fbo);
        glDeleteTextures(1, &t.colour);
        glDeleteRenderbuffers(1, &t.depth);
    }
    s_->shapes.clear();
    s_->drawn.clear();
    s_->translucent.clear();
    s_->textures.clear();
    s_->rasters.clear();
    s_->targets.clear();
    if (s_->ready) {
        glDeleteProgram(s_->program);
        glDeleteProgram(s_->flat);
        glDeleteBuffers(1, &s_->quad_vbo);
        glDeleteBuffers(1, &s_->instance_vbo);
        glDeleteVertexArrays(1, &s_->quad_vao);
    }
    s_->ready = false;
}

namespace {

Target* target_for(std::unordered_map<uint64_t, Target>& targets, const RwCamera& c) {
    Target& t = targets[c.serial];
    if (t.fbo && t.width == c.width && t.height == c.height) return &t;
    if (!t.fbo) {
        glGenFramebuffers(1, &t.fbo);
        glGenTextures(1, &t.colour);
        glGenRenderbuffers(1, &t.depth);
    }
    t.width = c.width;
    t.height = c.height;
    glBindTexture(GL_TEXTURE_2D, t.colour);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, c.width, c.height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glBindRenderbuffer(GL_RENDERBUFFER, t.depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, c.width, c.height);
    glBindFramebuffer(GL_FRAMEBUFFER, t.fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, t.colour, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, t.depth);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return nullptr;
    return &t;
}

// The viewport in GL's bottom-left pixel coordinates.
void set_viewport(const RwCamera& c) {
    const RwRect& v = c.viewport;
    glViewport(v.x, c.height - v.y - v.height, v.width, v.height);
    glScissor(v.x, c.height - v.y - v.height, v.width, v.height);
}

void upload(GpuTexture& g, const std::vector<uint8_t>& rgba, int w, int h, GLint wrap) {
    if (!g.id) glGenTextures(1, &g.id);
    glBindTexture(GL_TEXTURE_2D, g.id);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (g.width == w && g.height == h) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    } else {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        g.width = w;
        g.height = h;
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
}

GLuint raster_texture(std::unordered_map<uint64_t, GpuTexture>& cache, const RwRaster& r, GLint wrap) {
    GpuTexture& g = cache[r.serial];
    if (g.id && g.version == r.version) return g.id;
    upload(g, rgba_of(r, nullptr, 0, r.height), r.width, r.height, wrap);
    g.version = r.version;
    return g.id;
}

}  // namespace

// The owner's context, with the camera's framebuffer bound again (making
// the context current may bind the owner's own).
static bool bind_target(std::unordered_map<uint64_t, Target>& targets, const RwCamera& camera) {
    auto it = targets.find(camera.serial);
    if (it == targets.end()) return false;
    glBindFramebuffer(GL_FRAMEBUFFER, it->second.fbo);
    glEnable(GL_SCISSOR_TEST);
    set_viewport(camera);
    return true;
}

bool GlDevice::begin_update(RwCamera& camera) {
    make_current();
    if (!s_->ready) return false;
    Target* t = target_for(s_->targets, camera);
    if (!t) return false;
    glBindFramebuffer(GL_FRAMEBUFFER, t->fbo);
    glEnable(GL_SCISSOR_TEST);
    set_viewport(camera);
    s_->counting = 0;
    ++s_->frame;
    return true;
}

void GlDevice::clear(RwCamera& camera) {
    make_current();
    if (!s_->ready || !bind_target(s_->targets, camera)) return;
    glClearColor(camera.bg_r, camera.bg_g, camera.bg_b, 1);
    glClearDepth(1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const RwRaster* b = camera.backdrop;
    const RwRect& rect = camera.backdrop_rect;
    if (!b || rect.width <= 0 || rect.height <= 0) return;
    // The backdrop wraps sideways: viewport column x shows raster column
    // x + offset.
    const float x0 = float(rect.x), y0 = float(rect.y), x1 = x0 + float(rect.width), y1 = y0 + float(rect.height);
    const float u0 = float(camera.backdrop_offset_x) / float(b->width);
    const float u1 = u0 + float(rect.width) / float(b->width);
    const float v0 = float(camera.backdrop_offset_y) / float(b->height);
    const float v1 = v0 + float(rect.height) / float(b->height);
    const float quad[16] = {x0, y0, u0, v0, x1, y0, u1, v0, x0, y1, u0, v1, x1, y1, u1, v1};
    glDisable(GL_DEPTH_TEST);
    glUseProgram(s_->flat);
    glUniform2f(s_->f_size, float(camera.viewport.width), float(camera.viewport.height));
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, raster_texture(s_->rasters, *b, GL_REPEAT));
    glUniform1i(s_->f_image, 0);
    glBindVertexArray(s_->quad_vao);
    glBindBuffer(GL_ARRAY_BUFFER, s_->quad_vbo);
    glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof quad, quad);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    ++s_->counting;
}

namespace {

// The vertices of the clump's batches, kept until `send` gives them to GL.
void prepare(Shape& sh, const RwClump& c) {
    // Smooth normals: each vertex averages the faces around it.
    std::vector<RwV3> face(c.polygons.size()), smooth(c.vertices.size());
    for (size_t i = 0; i < c.polygons.size(); ++i) {
        const RwPolygon& p = c.polygons[i];
        RwV3 n{};
        // Newell's method copes with any polygon.
        for (size_t k = 0; k < p.v.size(); ++k) {
            RwV3 a = c.vertices[p.v[k]].p, b = c.vertices[p.v[(k + 1) % p.v.size()]].p;
            n.x += (a.y - b.y) * (a.z + b.z);
            n.y += (a.z - b.z) * (a.x + b.x);
            n.z += (a.x - b.x) * (a.y + b.y);
        }
        face[i] = normalize(n);
        for (uint32_t v : p.v) smooth[v] = smooth[v] + face[i];
    }
    for (RwV3& n : smooth) n = normalize(n);

    // Polygons grouped by material and drawing mode: one draw call each.
    std::vector<float>& data = sh.pending;
    data.clear();
    sh.batches.clear();
    auto emit = [&](size_t poly, uint32_t v) {
        const RwVertex& vx = c.vertices[v];
        const RwMaterial& m = c.materials[c.polygons[poly].material];
        RwV3 n = m.light == RwLightSampling::vertex ? smooth[v] : face[poly];
        data.insert(data.end(), {vx.p.x, vx.p.y, vx.p.z, n.x, n.y, n.z, vx.u, vx.v});
    };
    for (uint32_t mi = 0; mi < c.materials.size(); ++mi) {
        const RwGeometrySampling g = c.materials[mi].geometry;
        const GLenum mode = g == RwGeometrySampling::wireframe    ? GL_LINES
                            : g == RwGeometrySampling::pointcloud ? GL_POINTS
                                                                  : GL_TRIANGLES;
        const GLint first = GLint(data.size() / 8);
        for (size_t i = 0; i < c.polygons.size(); ++i) {
            const RwPolygon& p = c.polygons[i];
            if (p.material != mi || p.v.size() < 3) continue;
            const size_t n = p.v.size();
            if (mode == GL_TRIANGLES) {
                for (size_t k = 1; k + 1 < n; ++k) {
                    emit(i, p.v[0]);
                    emit(i, p.v[k]);
                    emit(i, p.v[k + 1]);
                }
            } else if (mode == GL_LINES) {
                for (size_t k = 0; k < n; ++k) {
                    emit(i, p.v[k]);
                    emit(i, p.v[(k + 1) % n]);
                }
            } else {
                for (size_t k = 0; k < n; ++k) emit(i, p.v[k]);
            }
        }
        const GLsizei count = GLsizei(data.size() / 8) - first;
        if (count > 0) sh.batches.push_back({mode, first, count, mi});
    }
    const RwBox box = rw_clump_bbox(&c);
    sh.centre = box.empty ? RwV3{} : (box.min + box.max) * 0.5f;
    sh.radius = box.empty ? 0 : length(box.max - box.min) * 0.5f;
    sh.sent = false;
}

// The model matrix of each instance comes from the instance buffer, 4
// columns at locations 3..6; `instance` is where this draw's first one is.
void point_instances(GLuint instance_vbo, size_t instance) {
    glBindBuffer(GL_ARRAY_BUFFER, instance_vbo);
    for (GLuint col = 0; col < 4; ++col)
        glVertexAttribPointer(3 + col, 4, GL_FLOAT, GL_FALSE, sizeof(RwMatrix),
                              reinterpret_cast<void*>(instance * sizeof(RwMatrix) + col * 4 * sizeof(float)));
}

void send(Shape& sh, GLuint instance_vbo) {
    if (!sh.vao) {
        glGenVertexArrays(1, &sh.vao);
        glGenBuffers(1, &sh.vbo);
    }
    glBindVertexArray(sh.vao);
    glBindBuffer(GL_ARRAY_BUFFER, sh.vbo);
    const std::vector<float>& data = sh.pending;
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(data.size() * sizeof(float)), data.data(), GL_STATIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 8 * sizeof(float), nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, 8 * sizeof(float), reinterpret_cast<void*>(3 * sizeof(float)));
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, 8 * sizeof(float), reinterpret_cast<void*>(6 * sizeof(float)));
    for (GLuint col = 0; col < 4; ++col) {
        glEnableVertexAttribArray(3 + col);
        glVertexAttribDivisor(3 + col, 1);
    }
    point_instances(instance_vbo, 0);
    sh.pending = {};
    sh.sent = true;
}

// The clump turned about y (or fully) so that its +z axis faces the camera.
RwMatrix aligned(const RwMatrix& world, RwAxisAlignment a, RwV3 eye) {
    if (a == RwAxisAlignment::none) return world;
    RwV3 pos{world.at(0, 3), world.at(1, 3), world.at(2, 3)};
    RwV3 to = eye - pos;
    if (a == RwAxisAlignment::zorient_x) to.y = 0;
    if (length(to) < 1e-6f) return world;
    RwMatrix face = matrix_look_at({0, 0, 0}, to, {0, 1, 0});
    // The clump keeps its own scale and shape; only its facing turns.
    RwMatrix local = world;
    local.at(0, 3) = local.at(1, 3) = local.at(2, 3) = 0;
    RwMatrix r = matrix_translation(pos.x, pos.y, pos.z) * face * local;
    return r;
}

}  // namespace

namespace {

// Whether the clump's sphere lies wholly outside what the camera sees
// (`view` takes the world to eye space, which looks down -z). Most of a
// neighbourhood is beside or behind the viewer: not drawing it is the
// cheapest draw of all.
bool outside_view(const RwCamera& camera, const RwMatrix& view, const RwMatrix& world, const Shape& cb) {
    const RwV3 p = transform_point(view, transform_point(world, cb.centre));
    float scale = 0;
    for (int col = 0; col < 3; ++col)
        scale = std::max(scale, length(transform_vector(view, {world.at(0, col), world.at(1, col), world.at(2, col)})));
    const float r = cb.radius * scale;
    const float n = camera.near_plane, f = std::max(camera.far_plane, n * 2);
    if (p.z - r > -n || -p.z - r > f) return true;
    const float ww = camera.window_w, wh = camera.window_h;
    const float sx = std::sqrt(1 + ww * ww), sy = std::sqrt(1 + wh * wh);
    return (p.x + p.z * ww) / sx > r || (-p.x + p.z * ww) / sx > r || (p.y + p.z * wh) / sy > r ||
           (-p.y + p.z * wh) / sy > r;
}

int64_t thread_cpu_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

void GlDevice::render(RwCamera& camera, RwScene& scene) {
    make_current();
    if (!s_->ready || !s_->targets.count(camera.serial)) return;
    State& s = *s_;
    const int64_t start = thread_cpu_ns();
    const RwMatrix view = rw_camera_view_matrix(&camera), proj = rw_camera_projection(&camera);
    const RwV3 eye = rw_camera_position(&camera);

    // First our own walk, without a GL call: what is seen, grouped by
    // geometry, so that every clump of one geometry is drawn at once. Every
    // shape's `placed` is empty between renders.
    auto visit = [&](const RwClump* c, const RwMatrix* parent) {
        if (c->hidden) return;
        RwMatrix world = parent ? *parent * c->matrix : c->matrix;
        if (c->alignment != RwAxisAlignment::none) world = aligned(world, c->alignment, eye);
        for (const RwClump* child : c->children) s.stack.push_back({child, world});
        if (c->polygons.empty()) return;
        auto [it, fresh] = s.shapes.try_emplace(c->geometry);
        Shape& sh = it->second;
        if (fresh) {
            prepare(sh, *c);
            ++s.rebuilds;
        }
        sh.last_frame = s.frame;
        if (outside_view(camera, view, world, sh)) return;
        if (sh.placed.empty()) {
            sh.clump = c;
            s.drawn.push_back(&sh);
        }
        sh.placed.push_back(world);
    };
    for (const RwClump* root : scene.clumps) {
        visit(root, nullptr);
        while (!s.stack.empty()) {
            const auto [c, parent] = s.stack.back();
            s.stack.pop_back();
            visit(c, &parent);
        }
    }
    // One instance buffer for the frame: each geometry's placements in a run.
    s.instances.clear();
    for (Shape* sh : s.drawn) {
        sh->first = s.instances.size() / 16;
        for (const RwMatrix& m : sh->placed) s.instances.insert(s.instances.end(), m.m, m.m + 16);
        const std::vector<RwMaterial>& materials = sh->clump->materials;
        for (size_t b = 0; b < sh->batches.size(); ++b) {
            const uint32_t mi = sh->batches[b].material;
            if (mi >= materials.size() || materials[mi].opacity >= 1) continue;
            for (size_t i = 0; i < sh->placed.size(); ++i) {
                const RwMatrix& m = sh->placed[i];
                s.translucent.push_back({sh, b, i, length(RwV3{m.at(0, 3), m.at(1, 3), m.at(2, 3)} - eye)});
            }
        }
    }
    // See-through materials are drawn last, farthest first.
    std::sort(s.translucent.begin(), s.translucent.end(),
              [](const Deferred& a, const Deferred& b) { return a.distance > b.distance; });
    s.walk_ns = thread_cpu_ns() - start;

    bind_target(s.targets, camera);
    glUseProgram(s.program);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDisable(GL_CULL_FACE);
    glUniformMatrix4fv(s.u_view, 1, GL_FALSE, view.m);
    glUniformMatrix4fv(s.u_projection, 1, GL_FALSE, proj.m);
    glUniform1f(s.u_ambient, scene.ambient);
    float dirs[12] = {}, power[4] = {};
    const int lights = int(std::min<size_t>(scene.lights.size(), 4));
    for (int i = 0; i < lights; ++i) {
        RwV3 d = normalize(scene.lights[i].direction);
        dirs[i * 3] = d.x, dirs[i * 3 + 1] = d.y, dirs[i * 3 + 2] = d.z;
        power[i] = scene.lights[i].brightness;
    }
    glUniform1i(s.u_light_count, lights);
    glUniform3fv(s.u_light_dir, 4, dirs);
    glUniform1fv(s.u_light_power, 4, power);
    glUniform1i(s.u_image, 0);
    glActiveTexture(GL_TEXTURE0);
    // Written in place: a fresh buffer every frame would cost the software
    // rasterizer an allocation of its own.
    glBindBuffer(GL_ARRAY_BUFFER, s.instance_vbo);
    if (s.instances.size() > s.instance_capacity) {
        s.instance_capacity = s.instances.size() * 2;
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(s.instance_capacity * sizeof(float)), nullptr, GL_DYNAMIC_DRAW);
    }
    if (!s.instances.empty())
        glBufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(s.instances.size() * sizeof(float)), s.instances.data());

    auto draw_batch = [&](const RwClump& c, const Batch& b, GLsizei instances) {
        const RwMaterial& m = c.materials[b.material];
        glUniform4f(s.u_colour, m.r, m.g, m.b, m.opacity);
        glUniform3f(s.u_surface, m.ambient, m.diffuse, m.specular);
        glUniform1i(s.u_lit, (m.texture && !(m.texture_modes & rw_texture_lit)) ? 0 : 1);
        GLuint tex = 0;
        if (m.texture && m.texture->raster) {
            GpuTexture& g = s.textures[m.texture->serial];
            if (!g.id || g.version != m.texture->version || g.raster != m.texture->raster->serial) {
                const int fh = rw_texture_frame_height(m.texture);
                upload(g, rgba_of(*m.texture->raster, m.texture->mask, m.texture->frame * fh, fh),
                       m.texture->raster->width, fh, GL_REPEAT);
                g.version = m.texture->version;
                g.raster = m.texture->raster->serial;
                ++s.uploads;
            }
            tex = g.id;
        }
        glUniform1i(s.u_textured, tex ? 1 : 0);
        glBindTexture(GL_TEXTURE_2D, tex);
        glDrawArraysInstanced(b.mode, b.first, b.count, instances);
        ++s.counting;
    };
    for (Shape* sh : s.drawn) {
        if (!sh->sent) send(*sh, s.instance_vbo);
        glBindVertexArray(sh->vao);
        point_instances(s.instance_vbo, sh->first);
        const std::vector<RwMaterial>& materials = sh->clump->materials;
        for (const Batch& b : sh->batches)
            if (b.material < materials.size() && materials[b.material].opacity >= 1)
                draw_batch(*sh->clump, b, GLsizei(sh->placed.size()));
    }
    if (!s.translucent.empty()) {
        // Without hiding what is behind them.
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glDepthMask(GL_FALSE);
        for (const Deferred& d : s.translucent) {
            glBindVertexArray(d.shape->vao);
            point_instances(s.instance_vbo, d.shape->first + d.instance);
            draw_batch(*d.shape->clump, d.shape->batches[d.batch], 1);
        }
        glDepthMask(GL_TRUE);
        glDisable(GL_BLEND);
    }
    glBindVertexArray(0);
    for (Shape* sh : s.drawn) sh->placed.clear();
    s.drawn.clear();
    s.translucent.clear();
}

void GlDevice::end_update(RwCamera& camera) {
    make_current();
    if (!s_->ready || !bind_target(s_->targets, camera)) return;
    if (!camera.overlays.empty()) {
        glDisable(GL_DEPTH_TEST);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glUseProgram(s_->flat);
        glUniform2f(s_->f_size, float(camera.viewport.width), float(camera.viewport.height));
        glUniform1i(s_->f_image, 0);
        glActiveTexture(GL_TEXTURE0);
        glBindVertexArray(s_->quad_vao);
        glBindBuffer(GL_ARRAY_BUFFER, s_->quad_vbo);
        for (const RwOverlay& o : camera.overlays) {
            const float x0 = float(o.x), y0 = float(o.y);
            const float x1 = x0 + float(o.raster->width), y1 = y0 + float(o.raster->height);
            const float quad[16] = {x0, y0, 0, 0, x1, y0, 1, 0, x0, y1, 0, 1, x1, y1, 1, 1};
            glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof quad, quad);
            glBindTexture(GL_TEXTURE_2D, raster_texture(s_->rasters, *o.raster, GL_CLAMP_TO_EDGE));
            glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
            ++s_->counting;
        }
        glDisable(GL_BLEND);
        // Overlay rasters live one frame: their textures go with them.
        for (const RwOverlay& o : camera.overlays) {
            auto it = s_->rasters.find(o.raster->serial);
            if (it != s_->rasters.end()) {
                glDeleteTextures(1, &it->second.id);
                s_->rasters.erase(it);
            }
        }
    }
    glBindVertexArray(0);
    glDisable(GL_SCISSOR_TEST);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    s_->draw_calls = s_->counting;
    // Buffers of geometries not drawn for a long while are given back.
    if (s_->frame % 600 == 0) {
        for (auto it = s_->shapes.begin(); it != s_->shapes.end();) {
            if (s_->frame - it->second.last_frame > 600) {
                glDeleteBuffers(1, &it->second.vbo);
                glDeleteVertexArrays(1, &it->second.vao);
                it = s_->shapes.erase(it);
            } else {
                ++it;
            }
        }
    }
}

void GlDevice::show(RwCamera& camera, bool stretch) {
    s_->shown_camera = camera.serial;
    s_->shown_stretch = stretch;
    s_->shown_viewport = camera.viewport;
    s_->shown_height = camera.height;
    shown();
}

bool GlDevice::present(unsigned framebuffer, int width, int height) {
    make_current();
    auto it = s_->targets.find(s_->shown_camera);
    if (!s_->ready || it == s_->targets.end() || width <= 0 || height <= 0) return false;
    const RwRect& v = s_->shown_viewport;
    const int src_y = s_->shown_height - v.y - v.height;
    glBindFramebuffer(GL_READ_FRAMEBUFFER, it->second.fbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    glDisable(GL_SCISSOR_TEST);
    // The image fills the window: at its own size normally, doubled when
    // the half-size camera is stretched (a plain copy either way).
    glBlitFramebuffer(v.x, src_y, v.x + v.width, src_y + v.height, 0, 0, width, height, GL_COLOR_BUFFER_BIT,
                      GL_NEAREST);
    // The caller's framebuffer stays bound for reading and drawing.
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    return true;
}

RwRaster* GlDevice::read_image(const RwCamera& camera) {
    make_current();
    auto it = s_->targets.find(camera.serial);
    if (it == s_->targets.end()) return nullptr;
    const RwRect& v = camera.viewport;
    RwRaster* r = rw_raster_create(v.width, v.height, 32);
    if (!r) return nullptr;
    std::vector<uint8_t> rows(size_t(v.width) * v.height * 4);
    glBindFramebuffer(GL_FRAMEBUFFER, it->second.fbo);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(v.x, camera.height - v.y - v.height, v.width, v.height, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    const size_t stride = size_t(v.width) * 4;
    for (int y = 0; y < v.height; ++y)
        std::copy_n(&rows[size_t(v.height - 1 - y) * stride], stride, &r->pixels[size_t(y) * stride]);
    return r;
}

// Buffers belong to geometries, given back when the last clump showing one
// goes or changes.
void GlDevice::clump_destroyed(uint64_t) {}

void GlDevice::geometry_released(uint64_t geometry) {
    auto it = s_->shapes.find(geometry);
    if (it == s_->shapes.end()) return;
    make_current();
    glDeleteBuffers(1, &it->second.vbo);
    glDeleteVertexArrays(1, &it->second.vao);
    s_->shapes.erase(it);
}

void GlDevice::texture_destroyed(uint64_t serial) {
    auto it = s_->textures.find(serial);
    if (it == s_->textures.end()) return;
    make_current();
    glDeleteTextures(1, &it->second.id);
    s_->textures.erase(it);
}

void GlDevice::camera_destroyed(uint64_t serial) {
    auto it = s_->targets.find(serial);
    if (it == s_->targets.end()) return;
    make_current();
    glDeleteFramebuffers(1, &it->second.fbo);
    glDeleteTextures(1, &it->second.colour);
    glDeleteRenderbuffers(1, &it->second.depth);
    s_->targets.erase(it);
    if (s_->shown_camera == serial) s_->shown_camera = 0;
}

int GlDevice::draw_calls() const { return s_->draw_calls; }
double GlDevice::walk_ms() const { return double(s_->walk_ns) / 1e6; }
int64_t GlDevice::rebuilds() const { return s_->rebuilds; }
int64_t GlDevice::uploads() const { return s_->uploads; }

}  // namespace zk
