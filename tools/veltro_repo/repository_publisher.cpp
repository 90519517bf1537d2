#include "repository_publisher.hpp"

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <system_error>

#include "cli_support.hpp"
#include "framework/byte_view.hpp"
#include "framework/hex.hpp"
#include "framework/sha256.hpp"
#include "repository_layout.hpp"
#include "repository_verifier.hpp"
#include "veltro_sfx_lib/signature/signature_block.hpp"

namespace qzr::repo {

namespace fs = std::filesystem;

namespace {

struct offered_file {
    std::string path;
    std::string digest;
    std::uint64_t size = 0;
};

std::string base_name(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    const auto slash = name.find_last_of('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool all_digits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// What to do with a document or module that may carry a signature already:
// one the stub accepts is kept, an unsigned one gets ours, anything else is
// refused rather than signed twice.
enum class signing { keep, add, refuse };

signing signing_of(const bytes& data, int key_set, std::string& why) {
    const byte_view view(data);
    try {
        if (!sfx::locate_signature(view)) return signing::add;
        if (sfx::verify_block(view, key_set)) return signing::keep;
        why = "carries a signature that key set " + std::to_string(key_set) + " does not accept";
    } catch (const std::exception& e) {
        why = std::string("carries a damaged signature (") + e.what() + ")";
    }
    return signing::refuse;
}

// The staging folder beside the output; removed unless it became the output.
class staging {
public:
    explicit staging(const fs::path& out) {
        fs::create_directories(out.parent_path());
        std::string pattern = (out.parent_path() / ("." + out.filename().string() + ".publish-XXXXXX")).string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a folder beside " + out.string());
        path_ = pattern;
        // mkdtemp makes the folder private; the tree is meant to be served.
        const mode_t mask = umask(0);
        umask(mask);
        fs::permissions(path_, static_cast<fs::perms>(0777 & ~mask));
    }
    ~staging() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    staging(const staging&) = delete;
    staging& operator=(const staging&) = delete;
    const fs::path& path() const { return path_; }
    void release() { path_.clear(); }

private:
    fs::path path_;
};

void write_object(const fs::path& root, const std::string& relative, const bytes& data) {
    const fs::path target = root / relative;
    fs::create_directories(target.parent_path());
    pack::write_file(target.string(), data);
}

void set_times(const fs::path& root, std::uint64_t seconds) {
    std::vector<fs::path> paths;
    for (const auto& e : fs::recursive_directory_iterator(root)) paths.push_back(e.path());
    paths.push_back(root);
    // Deepest first, so that setting a folder's time is not undone by its
    // children.
    std::sort(paths.begin(), paths.end(), [](const fs::path& a, const fs::path& b) { return a.string() > b.string(); });
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    for (const auto& p : paths)
        if (utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
            throw std::runtime_error("cannot set the time of " + p.string());
}

bool same_bytes(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (!fs::is_regular_file(a, ec) || fs::file_size(a, ec) != fs::file_size(b, ec) || ec) return false;
    return pack::read_file(a.string()) == pack::read_file(b.string());
}

}  // namespace

publish_result publish(const publish_request& request) {
    publish_result result;
    std::vector<std::string> refused;
    const auto refuse = [&](const std::string& line) { refused.push_back(line); };

    fs::path out = fs::absolute(request.out).lexically_normal();
    if (out.filename().empty()) out = out.parent_path();
    std::error_code ec;
    const bool merging = fs::exists(out, ec);
    if (merging && !fs::is_directory(out, ec)) refuse(out.string() + " exists and is not a folder");

    if (const auto why = name_problem(request.product); !why.empty())
        refuse("product name \"" + request.product + "\" " + why);
    if (const auto why = name_problem(request.channel); !why.empty())
        refuse("channel name \"" + request.channel + "\" " + why);

    // A key the stub does not trust would show only in the check of the
    // built tree, after everything was compressed; one signature tells.
    try {
        std::string probe = "<probe/>";
        pack::append_text_signature(probe, request.version, request.sign);
        if (!sfx::verify_block(byte_view(probe.data(), probe.size()), request.key_set))
            refuse("the signing key does not verify with key set " + std::to_string(request.key_set) +
                   ": the stub would refuse every download (sign with one of its keys)");
    } catch (const std::exception& e) {
        refuse(std::string("cannot sign: ") + e.what());
    }

    // The product-info document and what it names.
    bytes document;
    std::vector<listed_file> listed;
    std::string version;
    signing document_signing = signing::refuse;
    try {
        document = pack::read_file(request.product_info);
        if (document.empty()) throw std::runtime_error("is empty");
        if (std::find(document.begin(), document.end(), 0) != document.end())
            throw std::runtime_error("is not UTF-8 text, which a text signature needs");
        listed = listed_setup_files(document);
        version = listed_version(document);
        if (request.pinned && version.empty())
            throw std::runtime_error("gives no version, which names the pinned channel's folders");
        if (const auto why = version_problem(version); request.pinned && !why.empty())
            throw std::runtime_error("version \"" + version + "\" cannot name the pinned channel's folders: " + why);
        std::string why;
        document_signing = signing_of(document, request.key_set, why);
        if (document_signing == signing::refuse) throw std::runtime_error(why);
        if (document_signing == signing::keep) result.notes.push_back(request.product_info + ": keeps its own signature");
    } catch (const std::exception& e) {
        refuse(request.product_info + ": " + e.what());
    }

    // The compatibility module: an executable, signed as executables are.
    bytes module;
    signing module_signing = signing::refuse;
    if (!request.module.empty()) {
        try {
            module = pack::read_file(request.module);
            const auto pe = sfx::detect_pe(byte_view(module));
            if (!pe.is_pe) throw std::runtime_error("is not a PE image");
            std::string why;
            module_signing = signing_of(module, request.key_set, why);
            if (module_signing == signing::refuse) throw std::runtime_error(why);
            const byte_view view(module);
            if (module_signing == signing::add && (view.u32(pe.security_entry) || view.u32(pe.security_entry + 4)))
                throw std::runtime_error(
                    "has a certificate table and no signature of ours; sign it before the certificate table is added");
            if (module_signing == signing::keep) result.notes.push_back(request.module + ": keeps its own signature");
        } catch (const std::exception& e) {
            refuse(request.module + ": " + e.what());
        }
    }

    // Every offered file, by digest.
    std::vector<offered_file> offered;
    const auto offer = [&](const std::string& path) {
        try {
            const bytes content = pack::read_file(path);
            offered.push_back({path, hex::encode(root::sha256::of(content)), content.size()});
        } catch (const std::exception& e) {
            refuse(e.what());
        }
    };
    for (const auto& f : request.files) offer(f);
    for (const auto& d : request.dirs) {
        std::vector<std::string> found;
        try {
            for (const auto& e : fs::recursive_directory_iterator(d))
                if (e.is_regular_file()) found.push_back(e.path().string());
        } catch (const std::exception& e) {
            refuse("cannot read the folder " + d + ": " + e.what());
        }
        std::sort(found.begin(), found.end());
        for (const auto& f : found) offer(f);
    }

    std::map<std::string, std::string> objects;  // digest -> path
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const listed_file& f = listed[i];
        const std::string label = "setup file " + (f.name.empty() ? "#" + std::to_string(i + 1) : f.name);
        if (f.name.empty()) refuse(label + " (sha-256 " + f.sha256 + "): the product-info gives no name");
        if (!is_digest_text(f.sha256)) {
            refuse(label + ": \"" + f.sha256 +
                   "\" is not a SHA-256 digest in lowercase hex (the stub builds the object's path from this text)");
            continue;
        }
        const auto by_digest = std::find_if(offered.begin(), offered.end(), [&](auto& o) { return o.digest == f.sha256; });
        if (by_digest == offered.end()) {
            const auto by_name = std::find_if(offered.begin(), offered.end(), [&](auto& o) {
                return !f.name.empty() && base_name(o.path) == base_name(f.name);
            });
            if (by_name != offered.end())
                refuse(label + ": SHA-256 of " + by_name->path + " is " + by_name->digest + ", the product-info gives " +
                       f.sha256);
            else
                refuse(label + ": no given file has SHA-256 " + f.sha256);
            continue;
        }
        if (!f.has_size || f.size.empty())
            refuse(label + ": the product-info gives no size (the stub weighs progress by it)");
        else if (!all_digits(f.size) || f.size != std::to_string(by_digest->size))
            refuse(label + ": " + by_digest->path + " has " + std::to_string(by_digest->size) +
                   " bytes, the product-info gives \"" + f.size + "\"");
        objects.emplace(f.sha256, by_digest->path);
    }
    if (!refused.empty()) throw publish_refused(refused);
    if (request.check_only) return result;
    // Every offered file could be read, so the first ones are the --file ones.
    for (std::size_t i = 0; i < request.files.size(); ++i)
        if (!objects.count(offered[i].digest))
            result.notes.push_back(offered[i].path + ": not named by the product-info, not published");

    // Build the whole tree beside the output.
    staging stage(out);
    std::vector<std::string> order;
    for (const auto& [digest, path] : objects) {
        const bytes content = pack::read_file(path);
        if (hex::encode(root::sha256::of(content)) != digest) throw std::runtime_error(path + " changed while publishing");
        order.push_back(object_path(digest));
        write_object(stage.path(), order.back(), make_container(content, request.version, request.sign, request.level));
    }
    if (!request.module.empty()) {
        if (module_signing == signing::add) pack::append_binary_signature(module, request.version, request.sign, true);
        order.push_back(module_path(request.product));
        write_object(stage.path(), order.back(), make_container(module, request.version, request.sign, request.level));
    }
    if (document_signing == signing::add) {
        std::string text(document.begin(), document.end());
        const bool crlf = text.find("\r\n") != std::string::npos;
        pack::append_text_signature(text, request.version, request.sign, crlf ? "\r\n" : "\n");
        document.assign(text.begin(), text.end());
    }
    const bytes container = make_container(document, request.version, request.sign, request.level);
    order.push_back(product_info_path(request.product, request.channel));
    write_object(stage.path(), order.back(), container);
    if (request.pinned) {
        order.push_back(pinned_product_info_path(request.product, version, request.channel));
        write_object(stage.path(), order.back(), container);
    }

    // What the stub will check, checked before anything is put in place.
    const tree_report check = verify_tree(stage.path(), request.key_set);
    if (!check.problems.empty()) {
        std::vector<std::string> why;
        for (const auto& p : check.problems) why.push_back("the published tree would not pass: " + p);
        why.push_back("(the stub verifies downloads with key set " + std::to_string(request.key_set) +
                      "; sign with one of its keys)");
        throw publish_refused(why);
    }
    if (request.timestamp) set_times(stage.path(), *request.timestamp);

    if (!merging) {
        fs::rename(stage.path(), out);
        stage.release();
        result.written = order;
        return result;
    }
    for (const auto& relative : order) {
        const fs::path from = stage.path() / relative, to = out / relative;
        if (same_bytes(to, from)) {
            result.unchanged.push_back(relative);
            continue;
        }
        fs::create_directories(to.parent_path());
        fs::rename(from, to);
        result.written.push_back(relative);
    }
    return result;
}

}  // namespace qzr::repo
