#include "server/assets/generate.h"

#include <dirent.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "common/text.h"
#include "platform/files.h"
#include "server/assets/avatars.h"
#include "server/assets/demo_worlds.h"
#include "server/assets/images.h"
#include "server/assets/sounds.h"
#include "server/assets/rwx_check.h"
#include "server/assets/zip_writer.h"
#include "server/demo.h"

namespace zk::server {

namespace {

constexpr size_t kMaxModel = 1024 * 1024;
constexpr size_t kMaxContent = 4 * 1024 * 1024;
constexpr int kJpegQuality = 85;

std::vector<std::string> files_with_suffix(const std::string& dir, const std::string& suffix) {
    std::vector<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            out.push_back(name.substr(0, name.size() - suffix.size()));
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

bool write_if_changed(const std::string& path, const std::string& content) {
    std::string old;
    if (file_read_all(path, old, content.size() + 1) && old == content) return true;
    return file_replace(path, content);
}

std::string lower_model(std::string name) {
    name = lower_case(name);
    if (size_t dot = name.find(".rwx"); dot != std::string::npos) name.erase(dot);
    return name;
}

}  // namespace

std::string generate_demo_objects(const std::string& assets_dir, const std::string& out_dir) {
    // Models: checked first, so a broken model stops the build with its line.
    const std::string model_dir = assets_dir + "/models";
    std::map<std::string, std::string> models;
    std::set<std::string> textures_used, masks_used;
    for (const std::string& name : files_with_suffix(model_dir, ".rwx")) {
        if (name.size() > 20 || lower_model(name) != name)
            return "models/" + name + ".rwx: model names are lower case and at most 20 characters";
        std::string text;
        if (!file_read_all(model_dir + "/" + name + ".rwx", text, kMaxModel)) return "cannot read models/" + name + ".rwx";
        const RwxSummary s = rwx_check(text);
        if (!s.error.empty()) return "models/" + name + ".rwx: " + s.error;
        textures_used.insert(s.textures.begin(), s.textures.end());
        masks_used.insert(s.masks.begin(), s.masks.end());
        models[name] = std::move(text);
    }
    if (models.empty()) return "no models in " + model_dir;

    // Textures: every one a model names must have a recipe, and its mask too.
    std::map<std::string, std::string> texture_files;  // file name -> bytes
    std::set<std::string> made, masks_made;
    for (const TextureRecipe& r : texture_recipes()) {
        const Image image = make_texture(r);
        std::string jpeg = jpeg_encode(image, kJpegQuality);
        if (jpeg.empty()) return "cannot encode texture " + std::string(r.name);
        texture_files[std::string(r.name) + ".jpg"] = std::move(jpeg);
        made.insert(std::string(r.name));
        if (!r.mask.empty()) {
            const std::string member = std::string(r.mask) + ".bmp";
            std::string archive = zip_single(member, bmp_mask(image));
            if (archive.empty()) return "cannot pack mask " + std::string(r.mask);
            texture_files[std::string(r.mask) + ".zip"] = std::move(archive);
            masks_made.insert(std::string(r.mask));
        }
    }
    for (const std::string& t : textures_used)
        if (!made.count(t)) return "a model names texture '" + t + "', which has no recipe";
    for (const std::string& m : masks_used)
        if (!masks_made.count(m)) return "a model names mask '" + m + "', which has no recipe";

    // Avatars: the registry, the figures (checked like models) and their sequences.
    std::map<std::string, std::string> avatar_files;  // path under the world -> bytes
    avatar_files["avatars/avatars.zip"] = zip_single("avatars.dat", avatar_registry());
    for (const auto& [name, text] : avatar_figures()) {
        if (const RwxSummary s = rwx_check(text); !s.error.empty()) return "avatar " + name + ": " + s.error;
        avatar_files["avatars/" + name + ".zip"] = zip_single(name + ".rwx", text);
    }
    for (const auto& [name, bytes] : avatar_sequences()) avatar_files["seqs/" + name + ".zip"] = zip_single(name + ".seq", bytes);
    for (const auto& [path, bytes] : avatar_files)
        if (bytes.empty()) return "cannot pack " + path;
    // Sounds: each file in an archive of its base name.
    for (const auto& [file, bytes] : demo_sounds())
        avatar_files["sounds/" + file.substr(0, file.rfind('.')) + ".zip"] = zip_single(file, bytes);

    if (!make_directory(out_dir)) return "cannot create " + out_dir;
    for (const DemoWorld& world : kDemoWorlds) {
        const std::string name(world.name);
        const std::string content_path = assets_dir + "/worlds/" + name + ".txt";
        std::string content;
        if (!file_read_all(content_path, content, kMaxContent)) return "cannot read " + content_path;
        std::vector<DemoProblem> problems;
        const std::vector<DemoObject> objects = demo_parse(content, problems);
        if (!problems.empty())
            return content_path + ":" + std::to_string(problems[0].line) + ": " + problems[0].reason;
        for (const DemoObject& o : objects)
            if (!models.count(lower_model(o.model))) return content_path + ": no model called " + o.model;
        if (!models.count(std::string(world.secret_model)))
            return "world " + name + ": no model called " + std::string(world.secret_model) + " to encrypt";
        if (!world.ground.empty() && !models.count(std::string(world.ground)))
            return "world " + name + ": no model called " + std::string(world.ground) + " for its ground";
        if (!world.backdrop.empty() && !made.count(std::string(world.backdrop)))
            return "world " + name + ": no texture called " + std::string(world.backdrop) + " for its backdrop";

        const std::string root = out_dir + "/" + name;
        if (!make_directory(root) || !make_directory(root + "/models") || !make_directory(root + "/textures"))
            return "cannot create the folders under " + root;
        for (const auto& [model, text] : models) {
            ZipOptions options;
            if (model == world.secret_model) options.password = world.object_password;
            const std::string archive = zip_single(model + ".rwx", text, options);
            if (archive.empty() || !write_if_changed(root + "/models/" + model + ".zip", archive))
                return "cannot write " + root + "/models/" + model + ".zip";
        }
        for (const auto& [file, bytes] : texture_files)
            if (!write_if_changed(root + "/textures/" + file, bytes)) return "cannot write " + root + "/textures/" + file;
        if (!make_directory(root + "/avatars") || !make_directory(root + "/seqs") || !make_directory(root + "/sounds"))
            return "cannot create the avatar folders under " + root;
        for (const auto& [path, bytes] : avatar_files)
            if (!write_if_changed(root + "/" + path, bytes)) return "cannot write " + root + "/" + path;
        if (!write_if_changed(root + "/world.txt", content)) return "cannot write " + root + "/world.txt";
    }
    // Pages for the browser's web pane (the worlds page), beside the worlds.
    const std::string misc = assets_dir + "/misc";
    const std::vector<std::string> pages = files_with_suffix(misc, ".htm");
    if (!pages.empty() && !make_directory(out_dir + "/misc")) return "cannot create " + out_dir + "/misc";
    for (const std::string& page : pages) {
        std::string text;
        if (!file_read_all(misc + "/" + page + ".htm", text, kMaxContent)) return "cannot read " + misc + "/" + page + ".htm";
        if (!write_if_changed(out_dir + "/misc/" + page + ".htm", text))
            return "cannot write " + out_dir + "/misc/" + page + ".htm";
    }
    return {};
}

}  // namespace zk::server
