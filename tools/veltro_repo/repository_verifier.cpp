#include "repository_verifier.hpp"

#include <algorithm>
#include <optional>
#include <system_error>

#include "cli_support.hpp"
#include "framework/byte_view.hpp"
#include "framework/hex.hpp"
#include "framework/lzma_codec.hpp"
#include "framework/sha256.hpp"
#include "repository_layout.hpp"
#include "veltro_sfx_lib/signature/signature_block.hpp"

namespace qzr::repo {

namespace fs = std::filesystem;

namespace {

enum class kind { setup_file, document, module, other };

std::vector<std::string> parts_of(const std::string& relative) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t slash; (slash = relative.find('/', from)) != std::string::npos; from = slash + 1)
        parts.push_back(relative.substr(from, slash - from));
    parts.push_back(relative.substr(from));
    return parts;
}

bool ends_with(const std::string& text, std::string_view tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

kind classify(const std::string& relative) {
    const auto p = parts_of(relative);
    if (p.size() == 5 && p[0] == "universe" && ends_with(p[4], ".lzma")) {
        const std::string digest = p[4].substr(0, p[4].size() - 5);
        if (is_digest_text(digest) && object_path(digest) == relative) return kind::setup_file;
    }
    // defs/NAME/CHANNEL.xml.lzma, or a channel pinned to a version:
    // defs/NAME/1/2/3/4/CHANNEL.xml.lzma
    if (p.size() >= 3 && p[0] == "defs" && p.back().size() > 9 && ends_with(p.back(), ".xml.lzma") &&
        std::all_of(p.begin() + 1, p.end() - 1, [](const std::string& part) { return name_problem(part).empty(); }))
        return kind::document;
    if (p.size() == 4 && p[0] == "dll" && p[2] == "x86" && p[3] == "veltro_mod.dll.lzma" && name_problem(p[1]).empty())
        return kind::module;
    return kind::other;
}

class checker {
public:
    checker(const fs::path& root, int key_set, tree_report& report) : root_(root), key_set_(key_set), report_(report) {}

    void check(const std::string& relative) {
        at_ = relative;
        const kind k = classify(relative);
        if (k == kind::other) return problem("not a repository object (setup files live under universe/ at their "
                                             "digest, product-info under defs/, modules under dll/)");
        bytes data;
        try {
            data = pack::read_file((root_ / relative).string());
        } catch (const std::exception& e) {
            return problem(e.what());
        }
        const auto content = open_container(data);
        if (k == kind::setup_file) {
            ++report_.setup_files;
            if (!content) return;
            const std::string digest = hex::encode(root::sha256::of(*content));
            const auto name = parts_of(relative).back();
            if (digest + ".lzma" != name) problem("decodes to content whose SHA-256 is " + digest);
        } else if (k == kind::document) {
            ++report_.documents;
            if (content) check_document(*content);
        } else {
            ++report_.modules;
            if (content) check_signed(*content, "module");
            if (content && !sfx::detect_pe(byte_view(*content)).is_pe) problem("the module is not a PE image");
        }
    }

private:
    void problem(const std::string& what) { report_.problems.push_back(at_ + ": " + what); }

    // The signature over the transfer first, then the decoding, as the
    // downloader does; a bad signature does not stop the other checks, so
    // that one run says everything that is wrong.
    std::optional<bytes> open_container(const bytes& data) {
        check_signed(data, "container");
        try {
            const auto header = packers::read_lzma_header(byte_view(data));
            if (!header.size_known) problem("the LZMA header does not give the size");
            return packers::lzma_decode(byte_view(data));
        } catch (const std::exception& e) {
            problem(std::string("does not decode: ") + e.what());
            return std::nullopt;
        }
    }

    void check_signed(const bytes& data, const std::string& what) {
        const byte_view view(data);
        try {
            if (!sfx::locate_signature(view)) return problem("the " + what + " is not signed");
            if (sfx::verify_block(view, key_set_) == 0)
                problem("the " + what + " signature does not verify with key set " + std::to_string(key_set_));
        } catch (const std::exception& e) {
            problem("the " + what + " signature is damaged (" + e.what() + ")");
        }
    }

    void check_document(const bytes& document) {
        if (document.empty()) return problem("decodes to an empty document");
        check_signed(document, "product-info document");
        std::vector<listed_file> files;
        try {
            files = listed_setup_files(document);
        } catch (const std::exception& e) {
            return problem(std::string("the product-info document ") + e.what());
        }
        for (const auto& f : files) {
            const std::string label = "setup file " + (f.name.empty() ? "(no name)" : f.name);
            if (f.name.empty()) problem(label + ": the product-info gives no name");
            if (!is_digest_text(f.sha256)) {
                problem(label + ": \"" + f.sha256 + "\" is not a SHA-256 digest in lowercase hex");
                continue;
            }
            std::error_code ec;
            const std::string object = object_path(f.sha256);
            if (!fs::is_regular_file(root_ / object, ec)) problem(label + " is missing: " + object);
        }
    }

    fs::path root_;
    int key_set_;
    tree_report& report_;
    std::string at_;
};

}  // namespace

tree_report verify_tree(const fs::path& root, int key_set) {
    tree_report report;
    std::vector<std::string> files;
    std::error_code ec;
    fs::recursive_directory_iterator it(root, ec), end;
    if (ec) {
        report.problems.push_back(root.string() + ": " + ec.message());
        return report;
    }
    std::vector<std::string> strange;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        if (it->is_directory(ec)) continue;
        const std::string relative = it->path().lexically_relative(root).generic_string();
        (it->is_regular_file(ec) ? files : strange).push_back(relative);
    }
    if (ec) report.problems.push_back(root.string() + ": " + ec.message());
    std::sort(files.begin(), files.end());
    std::sort(strange.begin(), strange.end());
    for (const auto& s : strange) report.problems.push_back(s + ": not a regular file");
    checker c(root, key_set, report);
    for (const auto& f : files) c.check(f);
    return report;
}

}  // namespace qzr::repo
