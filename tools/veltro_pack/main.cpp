// veltro-pack: builds, signs, checks and unpacks self-extractors.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/hex.hpp"
#include "framework/lzma_codec.hpp"
#include "framework/sha256.hpp"
#include "framework/utf.hpp"
#include "cli_support.hpp"
#include "installer_build.hpp"
#include "manifest.hpp"
#include "tool_cli.hpp"
#include "payload_writer.hpp"
#include "signature_writer.hpp"
#include "veltro_sfx_lib/payload/payload_index.hpp"
#include "veltro_sfx_lib/signature/dsa_keys.hpp"
#include "veltro_sfx_lib/signature/signature_block.hpp"

#ifndef QZR_DEFAULT_KEY
#define QZR_DEFAULT_KEY "keys/dev/k4.pem"
#endif

namespace {

using namespace qzr;
using bytes = std::vector<std::uint8_t>;

const char* const tool_name = "veltro-pack";

const char* const key_note =
    "The default key is " QZR_DEFAULT_KEY " (or $VELTRO_PACK_KEY); signatures are version 3 unless asked.\n"
    "Signing with a development key (one of keys/dev) prints a warning; build --release refuses one.\n";

using pack::key_path;
using pack::parse_number;
using pack::parse_version;
using pack::read_file;
using pack::usage_error;
using pack::write_file;

std::uint64_t file_time(const std::string& path) {
    if (const auto epoch = pack::source_date_epoch()) return *epoch;
    return pack::modification_time(path);
}

std::string base_name(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct pack_entry {
    std::string alias;
    std::string path;
    bool lzma = false;
    std::optional<std::uint64_t> timestamp;
};

void read_manifest(const std::string& path, std::vector<pack_entry>& entries) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read manifest " + path);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string kind, alias, file, stamp;
        fields >> kind >> alias >> file >> stamp;
        if ((kind != "stored" && kind != "lzma") || alias.empty() || file.empty())
            throw usage_error(path + ":" + std::to_string(number) + ": expected \"stored|lzma ALIAS|- PATH\"");
        pack_entry e{alias == "-" ? "" : alias, file, kind == "lzma", std::nullopt};
        if (!stamp.empty()) e.timestamp = parse_number(stamp, "a manifest timestamp");
        entries.push_back(e);
    }
}

// --key and --sig-version, as every signing command takes them.
void add_signing_options(CLI::App& command, std::string& key, int& version) {
    command.add_option("--key", key, "PEM private key to sign with")->type_name("PEM");
    command
        .add_option_function<std::string>(
            "--sig-version", [&version](const std::string& v) { version = parse_version(v); },
            "signature version (default 3)")
        ->type_name("2|3");
}

struct pack_request {
    std::string stub, out, key;
    int version = 3;
    // The state --lzma, --stored and --timestamp leave for the entries after them.
    bool lzma = false;
    std::optional<std::uint64_t> timestamp;
    std::vector<pack_entry> entries;

    void add(const std::string& value, bool with_alias) {
        const auto eq = with_alias ? value.find('=') : std::string::npos;
        pack_entry e;
        e.path = eq != std::string::npos ? value.substr(eq + 1) : value;
        e.alias = !with_alias ? "" : eq != std::string::npos ? value.substr(0, eq) : base_name(value);
        e.lzma = lzma;
        e.timestamp = timestamp;
        entries.push_back(e);
    }
};

int pack_command(const pack_request& r) {
    bytes image = read_file(r.stub);
    const std::uint64_t end = pack::image_end(image);
    if (end != image.size())
        throw std::runtime_error(r.stub + ": " + std::to_string(image.size() - end) +
                                 " bytes follow the last section (link the stub stripped)");
    for (const auto& e : r.entries) {
        const bytes content = read_file(e.path);
        pack::entry_header h;
        h.alias = e.alias;
        h.flags = e.lzma ? 1 : 0;
        h.timestamp = e.timestamp ? *e.timestamp : file_time(e.path);
        const auto digest = root::sha256::of(content);
        std::copy(digest.begin(), digest.end(), h.sha256);
        if (e.lzma) pack::append_entry(image, h, packers::lzma_encode(content, 9));
        else pack::append_entry(image, h, content);
    }
    pack::append_end_entry(image);
    const auto key = pack::open_key(key_path(r.key), false);
    pack::warn_if_development(key, tool_name);
    pack::append_binary_signature(image, r.version, key.sign, true);
    write_file(r.out, image);
    std::cout << r.out << ": " << r.entries.size() << " entries, " << image.size() << " bytes, signature version "
              << r.version << "\n";
    return 0;
}

// The entry options act while the command line is read, each occurrence in
// its place, so that --lzma, --stored and --timestamp reach only the entries
// that follow them.
void add_pack(pack::tool& tool) {
    auto r = std::make_shared<pack_request>();
    auto& c = tool.command("pack", "Append entries to a bare stub and sign the whole", [r] { return pack_command(*r); });
    c.add_option("--stub", r->stub, "bare stub, linked stripped")->required()->type_name("STUB");
    c.add_option("--out", r->out, "self-extractor to write")->required()->type_name("FILE");
    add_signing_options(c, r->key, r->version);
    const std::string entries = "Entries, in payload order";
    c.add_option_function<std::string>(
         "--file", [r](const std::string& v) { r->add(v, true); }, "entry found by its alias (default: the file name)")
        ->type_name("[ALIAS=]PATH")->trigger_on_parse()->group(entries);
    c.add_option_function<std::string>(
         "--anonymous", [r](const std::string& v) { r->add(v, false); }, "entry without alias, found by its SHA-256")
        ->type_name("PATH")->trigger_on_parse()->group(entries);
    c.add_flag_callback("--lzma", [r] { r->lzma = true; }, "compress the entries that follow")
        ->trigger_on_parse()->group(entries);
    c.add_flag_callback("--stored", [r] { r->lzma = false; }, "store the entries that follow (default)")
        ->trigger_on_parse()->group(entries);
    pack::add_number(c, "--timestamp", [r](std::uint64_t t) { r->timestamp = t; },
                     "packing time of the entries that follow (default: SOURCE_DATE_EPOCH, else the file's)")
        ->type_name("SECONDS")->trigger_on_parse()->group(entries);
    c.add_option_function<std::string>(
         "--manifest", [r](const std::string& v) { read_manifest(v, r->entries); },
         "entries from lines \"stored|lzma ALIAS|- PATH [TIMESTAMP]\"")
        ->type_name("FILE")->trigger_on_parse()->group(entries);
}

struct build_request {
    std::string manifest, key;
    bool check_only = false;
    bool release = false;
    pack::build_options options;
};

int build_command(build_request& r) {
    const pack::manifest m = pack::read_manifest(r.manifest);
    r.options.timestamp = pack::source_date_epoch();
    // --key, else $VELTRO_PACK_KEY (how a build machine hands over its
    // secret without touching the manifest), else the manifest's key, else
    // the development key.
    std::string key = r.key;
    if (key.empty() && !std::getenv("VELTRO_PACK_KEY")) key = m.key.string();
    const auto signing = pack::open_key(key_path(key), r.release);
    pack::check_build(m, r.options, signing.sign);
    if (r.check_only) {
        std::cout << r.manifest << ": ok\n";
        return 0;
    }
    pack::warn_if_development(signing, tool_name);
    const auto report = pack::build(m, r.options, signing.sign);
    std::cout << report.installer.string() << ": " << report.payload_files << " setup files in the payload, "
              << report.image_size << " bytes\n"
              << report.sfx_info.string() << "\n"
              << report.product_info.string() << "\n";
    if (!report.repository.empty())
        std::cout << report.repository.string() << ": " << report.published.size() << " files written\n";
    return 0;
}

void add_build(pack::tool& tool) {
    auto r = std::make_shared<build_request>();
    auto& c = tool.command("build",
                           "From a release manifest: the signed sfx-info and product-info, the installer and, "
                           "when asked, the repository tree",
                           [r] { return build_command(*r); });
    c.add_option("MANIFEST", r->manifest, "the release manifest (TOML)")->required()->type_name("");
    c.add_option_function<std::string>(
         "--stub", [r](const std::string& v) { r->options.stub = v; }, "bare stub (instead of [installer] stub)")
        ->type_name("STUB");
    c.add_option_function<std::string>(
         "--out", [r](const std::string& v) { r->options.output = v; },
         "folder for the installer and the documents (instead of [installer] output)")
        ->type_name("DIR");
    auto* publish = c.add_option_function<std::string>(
                         "--publish", [r](const std::string& v) { r->options.publish = v; },
                         "publish the repository tree here (instead of [repository] publish)")
                        ->type_name("DIR");
    c.add_flag_callback("--no-publish", [r] { r->options.no_publish = true; }, "do not publish, whatever the manifest says")
        ->excludes(publish);
    c.add_option("--key", r->key, "PEM private key to sign with (instead of [installer] key)")->type_name("PEM");
    c.add_flag_callback("--web", [r] { r->options.web = true; },
                        "a web installer: every setup file comes from the repository");
    c.add_flag("--check", r->check_only, "run every check of the build, and write nothing");
    c.add_flag("--release", r->release, "refuse to sign with a development key");
}

struct sign_request {
    std::string in, out, key, line_end = "\n";
    int version = 3;
    bool pad = false;
};

int sign(const sign_request& r, bool xml) {
    const auto key = pack::open_key(key_path(r.key), false);
    pack::warn_if_development(key, tool_name);
    const auto& signer = key.sign;
    const bytes content = read_file(r.in);
    if (xml) {
        std::string text(content.begin(), content.end());
        pack::append_text_signature(text, r.version, signer, r.line_end);
        write_file(r.out, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    } else {
        bytes data = content;
        pack::append_binary_signature(data, r.version, signer, r.pad);
        write_file(r.out, data);
    }
    return 0;
}

void add_sign(pack::tool& tool, bool xml) {
    auto r = std::make_shared<sign_request>();
    auto& c = tool.command(xml ? "sign-xml" : "sign-file",
                           xml ? "Sign an XML document: the signature follows it as a comment"
                               : "Sign a file: the signature block is appended to it",
                           [r, xml] { return sign(*r, xml); });
    c.add_option("IN", r->in, "file to sign")->required()->type_name("");
    c.add_option("OUT", r->out, "signed copy to write")->required()->type_name("");
    add_signing_options(c, r->key, r->version);
    if (xml) {
        c.add_option_function<std::string>(
             "--line-end",
             [r](const std::string& v) {
                 if (v == "lf") r->line_end = "\n";
                 else if (v == "crlf") r->line_end = "\r\n";
                 else if (v == "none") r->line_end = "";
                 else throw usage_error("--line-end takes lf, crlf or none");
             },
             "what ends the signature comment (default lf)")
            ->type_name("lf|crlf|none");
    } else {
        c.add_flag("--pad", r->pad, "zero bytes after the block, to a length that is a multiple of 8");
    }
}

int verify(const std::string& path) {
    const bytes data = read_file(path);
    const byte_view view(data);
    std::optional<sfx::signature_location> where;
    try {
        where = sfx::locate_signature(view);
    } catch (const std::exception& e) {
        std::cout << path << ": damaged signature block (" << e.what() << ")\n";
        return pack::exit_check_failed;
    }
    if (!where) {
        std::cout << path << ": no signature block\n";
        return pack::exit_check_failed;
    }
    std::cout << path << ": " << (where->text ? "text" : "binary") << " signature, version " << where->version
              << ", signed length " << where->signed_length << (where->pe.is_pe ? ", PE image" : "") << "\n";
    bool any = false;
    for (int set : {0, 1, 2, 3, 4, 5, 7, 8}) {
        const int key = sfx::verify_block(view, set);
        if (key) {
            std::cout << "  key set " << set << ": verified by K" << key << "\n";
            any = true;
        }
    }
    if (!any) std::cout << "  no known key verifies it\n";
    return any ? pack::exit_success : pack::exit_check_failed;
}

void add_verify(pack::tool& tool) {
    auto path = std::make_shared<std::string>();
    auto& c = tool.command("verify", "Tell which key of which key set verifies a signed file",
                           [path] { return verify(*path); });
    c.add_option("FILE", *path, "signed file")->required()->type_name("");
}

std::uint16_t image_magic(const bytes& data) {
    const auto pe = sfx::detect_pe(byte_view(data));
    if (!pe.is_pe) throw std::runtime_error("not a PE image");
    return byte_view(data).u16(pe.checksum_offset - 64);
}

std::vector<sfx::file_info> payload_entries(const std::shared_ptr<files::memory_mapping>& mapping,
                                            std::uint16_t magic) {
    pugi::xml_document doc;
    auto list = doc.append_child(L"file-list");
    const sfx::payload_index index(mapping, list, magic);
    std::vector<sfx::file_info> entries;
    for (auto f : list.children(L"file")) {
        sfx::file_info i;
        i.alias = f.child(L"alias").text().get();
        i.sha = f.child(L"sha-256").text().get();
        i.offset = f.child(L"offset").text().as_uint();
        i.size = f.child(L"size").text().as_uint();
        i.timestamp = f.child(L"timestamp").text().as_ullong();
        i.flags = f.child(L"flags").text().as_uint();
        entries.push_back(i);
    }
    return entries;
}

struct extract_request {
    std::string path, out, alias, sha;
    bool all = false;
};

int list_or_extract(const extract_request& r, bool extract) {
    if (extract && !r.all && r.alias.empty() && r.sha.empty())
        throw usage_error("extract needs --alias, --sha or --all");
    bytes data = read_file(r.path);
    const std::uint16_t magic = image_magic(data);
    auto mapping = std::make_shared<files::memory_mapping>(std::move(data));
    const auto entries = payload_entries(mapping, magic);
    if (!extract) {
        std::cout << "alias\tsha-256\toffset\tsize\ttimestamp\tflags\n";
        for (const auto& e : entries)
            std::cout << (e.alias.empty() ? "-" : utf::to_utf8(e.alias)) << "\t" << utf::to_utf8(e.sha) << "\t"
                      << e.offset << "\t" << e.size << "\t" << e.timestamp << "\t"
                      << (e.flags == 1 ? "lzma" : e.flags == 0 ? "stored" : std::to_string(e.flags)) << "\n";
        return 0;
    }
    // Every chosen entry is decoded and checked before the first file is
    // written: a damaged payload yields nothing rather than some of it.
    std::vector<std::pair<std::string, bytes>> chosen;
    for (const auto& e : entries) {
        const bool wanted = r.all || (!r.alias.empty() && utf::to_utf8(e.alias) == r.alias) ||
                            (!r.sha.empty() && utf::to_utf8(e.sha) == r.sha);
        if (!wanted) continue;
        const std::string name = e.alias.empty() ? utf::to_utf8(e.sha) : base_name(utf::to_utf8(e.alias));
        if (name.empty() || name == "." || name == "..") throw std::runtime_error("entry name unusable as a file name");
        chosen.emplace_back(name, sfx::unpack_entry(mapping->view(), e));
    }
    for (const auto& [name, content] : chosen) {
        write_file(r.out + "/" + name, content);
        std::cout << r.out << "/" << name << "\n";
    }
    if (chosen.empty()) throw std::runtime_error("no such entry");
    return 0;
}

void add_list_and_extract(pack::tool& tool) {
    auto listed = std::make_shared<extract_request>();
    tool.command("list", "List the payload entries of a self-extractor", [listed] {
            return list_or_extract(*listed, false);
        })
        .add_option("FILE", listed->path, "self-extractor")->required()->type_name("");

    auto r = std::make_shared<extract_request>();
    auto& c = tool.command("extract", "Unpack payload entries, each checked against its SHA-256",
                           [r] { return list_or_extract(*r, true); });
    c.add_option("FILE", r->path, "self-extractor")->required()->type_name("");
    c.add_option("--out", r->out, "folder to write the entries into")->required()->type_name("DIR");
    c.add_option("--alias", r->alias, "the entry of this alias")->type_name("ALIAS");
    c.add_option("--sha", r->sha, "the entry of this SHA-256 (hex)")->type_name("SHA");
    c.add_flag("--all", r->all, "every entry");
}

}  // namespace

int main(int argc, char** argv) {
    pack::tool tool(tool_name, "Builds, signs, checks and unpacks self-extractors.", key_note);
    add_build(tool);
    add_pack(tool);
    add_sign(tool, true);
    add_sign(tool, false);
    add_verify(tool);
    add_list_and_extract(tool);
    return tool.main(argc, argv);
}
