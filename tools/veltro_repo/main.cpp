// veltro-repo: publishes products into a repository tree and checks trees.
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "cli_support.hpp"
#include "repository_publisher.hpp"
#include "repository_verifier.hpp"
#include "tool_cli.hpp"
#include "veltro_sfx_lib/signature/dsa_keys.hpp"

namespace {

using namespace qzr;
using pack::usage_error;

const char* const layout =
    "publish writes into the tree DIR, each file LZMA-compressed and signed as a download:\n"
    "  universe/<h0-3>/<h4-7>/<h8-11>/<sha-256>.lzma  each setup file the product-info names\n"
    "                                 (in any setup-files group), found by its SHA-256 and size\n"
    "                                 among the --file files and the files under --dir\n"
    "  dll/NAME/x86/veltro_mod.dll.lzma   the compatibility module, signed\n"
    "  defs/NAME/CHANNEL.xml.lzma         the product-info, signed as an XML document\n"
    "  defs/NAME/1/2/3/4/CHANNEL.xml.lzma with --pinned, the same for a stub started with\n"
    "                                 /noupdate, under the document's version (here 1.2.3.4)\n"
    "A document or module that already carries a signature the stub accepts is kept as it\n"
    "is. The tree is built beside DIR and checked like verify before it is put in place, so\n"
    "a refused run writes nothing; an existing DIR gets the new files, setup files first and\n"
    "the product-info last.\n";

const char* const key_note =
    "The default key is " QZR_DEFAULT_KEY " (or $VELTRO_PACK_KEY); signatures are\n"
    "version 3 unless asked. Key set 7 (K4, K5) is the one the stub verifies downloads with.\n"
    "Signing with a development key (one of keys/dev) prints a warning.\n";

void add_key_set(CLI::App& command, int& key_set) {
    pack::add_number(
        command, "--key-set",
        [&key_set](std::uint64_t n) {
            try {
                if (n > 8) throw std::out_of_range("key set");
                sfx::keys::key_set(static_cast<int>(n));
            } catch (const std::exception&) {
                throw usage_error("--key-set takes 0 to 5, 7 or 8");
            }
            key_set = static_cast<int>(n);
        },
        "key set the tree must verify with (default 7)");
}

int publish_command(repo::publish_request& request, const std::string& key) {
    if (!request.timestamp) request.timestamp = pack::source_date_epoch();
    const auto signing = pack::open_key(pack::key_path(key), false);
    pack::warn_if_development(signing, "veltro-repo");
    request.sign = signing.sign;
    try {
        const auto result = repo::publish(request);
        for (const auto& note : result.notes) std::cerr << "veltro-repo: note: " << note << "\n";
        for (const auto& path : result.written) std::cout << path << "\n";
        for (const auto& path : result.unchanged) std::cout << path << " (unchanged)\n";
        std::cout << request.out.string() << ": " << request.product << "/" << request.channel << " published, "
                  << result.written.size() << " files written, " << result.unchanged.size() << " unchanged\n";
        return pack::exit_success;
    } catch (const repo::publish_refused& e) {
        for (const auto& reason : e.reasons) std::cerr << "veltro-repo: " << reason << "\n";
        std::cerr << "veltro-repo: nothing written\n";
        return pack::exit_unusable;
    }
}

void add_publish(pack::tool& tool) {
    auto request = std::make_shared<repo::publish_request>();
    auto key = std::make_shared<std::string>();
    auto& c = tool.command("publish", "Publish a product channel into a repository tree",
                           [request, key] { return publish_command(*request, *key); });
    c.add_option("--out", request->out, "repository tree to write into")->required()->type_name("DIR");
    c.add_option("--product", request->product, "product name")->required()->type_name("NAME");
    c.add_option("--channel", request->channel, "channel name")->required()->type_name("CHANNEL");
    c.add_option("--product-info", request->product_info, "product-info document, unsigned or signed")
        ->required()
        ->type_name("FILE");
    c.add_option("--module", request->module, "compatibility module veltro_mod.dll")->type_name("FILE");
    c.add_option_function<std::string>(
         "--file", [request](const std::string& f) { request->files.push_back(f); },
         "a setup file on offer (repeatable)")
        ->type_name("PATH")
        ->trigger_on_parse();
    c.add_option_function<std::string>(
         "--dir", [request](const std::string& d) { request->dirs.push_back(d); },
         "a folder whose every file is on offer (repeatable)")
        ->type_name("FOLDER")
        ->trigger_on_parse();
    c.add_option("--key", *key, "PEM private key to sign with")->type_name("PEM");
    c.add_option_function<std::string>(
         "--sig-version", [request](const std::string& v) { request->version = pack::parse_version(v); },
         "signature version (default 3)")
        ->type_name("2|3");
    add_key_set(c, request->key_set);
    c.add_flag("--pinned", request->pinned,
               "also publish the document where /noupdate looks: the channel pinned to its version");
    pack::add_number(c, "--timestamp", [request](std::uint64_t t) { request->timestamp = t; },
                     "time of every written file (default: SOURCE_DATE_EPOCH)")
        ->type_name("SECONDS");
    pack::add_number(
        c, "--level",
        [request](std::uint64_t level) {
            if (level > 9) throw usage_error("--level takes 0 to 9");
            request->level = static_cast<std::uint32_t>(level);
        },
        "LZMA preset, 0 (fast) to 9 (small, the default); the stub reads every level")
        ->type_name("0-9");
    c.footer(layout + ("\n" + c.get_footer()));
}

int verify_command(const std::string& dir, int key_set) {
    // A tree that is not there is an input that cannot be used, not a
    // problem found in it.
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) throw std::runtime_error(dir + ": not a folder");
    const auto report = repo::verify_tree(dir, key_set);
    for (const auto& p : report.problems) std::cout << p << "\n";
    if (!report.problems.empty()) return pack::exit_check_failed;
    std::cout << dir << ": clean with key set " << key_set << ": " << report.setup_files << " setup files, "
              << report.documents << " product-info documents, " << report.modules << " modules\n";
    return pack::exit_success;
}

void add_verify(pack::tool& tool) {
    struct verify_request {
        std::string dir;
        int key_set = sfx::keys::default_key_set;
    };
    auto r = std::make_shared<verify_request>();
    auto& c = tool.command("verify", "Check every file of a tree as the stub checks a download, one line per problem",
                           [r] { return verify_command(r->dir, r->key_set); });
    c.add_option("DIR", r->dir, "repository tree")->required()->type_name("");
    add_key_set(c, r->key_set);
}

}  // namespace

int main(int argc, char** argv) {
    pack::tool tool("veltro-repo", "Publishes products into a repository tree and checks trees.", key_note);
    add_publish(tool);
    add_verify(tool);
    return tool.main(argc, argv);
}
