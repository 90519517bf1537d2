// veltro-pack: builds, signs, checks and unpacks self-extractors.
#include <sys/stat.h>

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
#include "openssl_signer.hpp"
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

const char* const usage_text =
    "usage: veltro-pack <command> [options]\n"
    "\n"
    "  build MANIFEST.toml [--stub STUB] [--out DIR] [--publish DIR | --no-publish] [--key PEM] [--web] [--check]\n"
    "       the signed sfx-info and product-info, the installer and (when the manifest or\n"
    "       --publish asks) the repository tree, from one release manifest;\n"
    "       --web leaves every setup file to the repository (a small online installer);\n"
    "       --check only reads and checks the manifest\n"
    "  pack --stub STUB --out FILE [entries] [--key PEM] [--sig-version 2|3]\n"
    "       entries, in payload order:\n"
    "         --file [ALIAS=]PATH    an entry found by its alias (default: the file name)\n"
    "         --anonymous PATH       an entry without alias, found by its SHA-256\n"
    "         --lzma / --stored      compress the entries that follow, or store them (default)\n"
    "         --timestamp SECONDS    packing time of the entries that follow\n"
    "                                (default: SOURCE_DATE_EPOCH, else the file's time)\n"
    "         --manifest FILE        lines \"stored|lzma ALIAS|- PATH [TIMESTAMP]\"\n"
    "  sign-xml IN OUT [--key PEM] [--sig-version 2|3] [--line-end lf|crlf|none]\n"
    "  sign-file IN OUT [--key PEM] [--sig-version 2|3] [--pad]\n"
    "  verify FILE                which key of which key set verifies FILE\n"
    "  list FILE                  the payload entries of a self-extractor\n"
    "  extract FILE --out DIR [--alias ALIAS | --sha SHA | --all]\n"
    "\n"
    "The default key is " QZR_DEFAULT_KEY " (or $VELTRO_PACK_KEY); signatures are version 3 unless asked.\n";

using pack::arguments;
using pack::key_path;
using pack::parse_number;
using pack::parse_version;
using pack::read_file;
using pack::usage_error;
using pack::write_file;

std::uint64_t file_time(const std::string& path) {
    if (const auto epoch = pack::source_date_epoch()) return *epoch;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot read " + path);
    return static_cast<std::uint64_t>(st.st_mtime);
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

int pack_command(arguments& args) {
    std::string stub, out, key;
    int version = 3;
    bool lzma = false;
    std::optional<std::uint64_t> timestamp;
    std::vector<pack_entry> entries;
    while (!args.done()) {
        const std::string a = args.next();
        if (a == "--stub") stub = args.value(a);
        else if (a == "--out") out = args.value(a);
        else if (a == "--key") key = args.value(a);
        else if (a == "--sig-version") version = parse_version(args.value(a));
        else if (a == "--lzma") lzma = true;
        else if (a == "--stored") lzma = false;
        else if (a == "--timestamp") timestamp = parse_number(args.value(a), "--timestamp");
        else if (a == "--manifest") read_manifest(args.value(a), entries);
        else if (a == "--file" || a == "--anonymous") {
            const std::string v = args.value(a);
            const auto eq = v.find('=');
            pack_entry e;
            e.path = a == "--file" && eq != std::string::npos ? v.substr(eq + 1) : v;
            e.alias = a == "--anonymous" ? "" : eq != std::string::npos ? v.substr(0, eq) : base_name(v);
            e.lzma = lzma;
            e.timestamp = timestamp;
            entries.push_back(e);
        } else {
            throw usage_error("pack: unknown option " + a);
        }
    }
    if (stub.empty() || out.empty()) throw usage_error("pack needs --stub and --out");

    bytes image = read_file(stub);
    const std::uint64_t end = pack::image_end(image);
    if (end != image.size())
        throw std::runtime_error(stub + ": " + std::to_string(image.size() - end) +
                                 " bytes follow the last section (link the stub stripped)");
    for (const auto& e : entries) {
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
    pack::append_binary_signature(image, version, pack::openssl_signer(key_path(key)), true);
    write_file(out, image);
    std::cout << out << ": " << entries.size() << " entries, " << image.size() << " bytes, signature version "
              << version << "\n";
    return 0;
}

int build_command(arguments& args) {
    std::string manifest_path, key;
    bool check_only = false;
    pack::build_options options;
    while (!args.done()) {
        const std::string a = args.next();
        if (a == "--stub") options.stub = args.value(a);
        else if (a == "--out") options.output = args.value(a);
        else if (a == "--publish") options.publish = args.value(a);
        else if (a == "--no-publish") options.no_publish = true;
        else if (a == "--check") check_only = true;
        else if (a == "--web") options.web = true;
        else if (a == "--key") key = args.value(a);
        else if (!a.empty() && a[0] == '-') throw usage_error("build: unknown option " + a);
        else if (manifest_path.empty()) manifest_path = a;
        else throw usage_error("build takes one manifest");
    }
    if (manifest_path.empty()) throw usage_error("build MANIFEST.toml");
    const pack::manifest m = pack::read_manifest(manifest_path);
    if (check_only) {
        std::cout << manifest_path << ": ok\n";
        return 0;
    }
    options.timestamp = pack::source_date_epoch();
    if (key.empty() && !m.key.empty()) key = m.key.string();
    const auto report = pack::build(m, options, pack::openssl_signer(key_path(key)));
    std::cout << report.installer.string() << ": " << report.payload_files << " setup files in the payload, "
              << report.image_size << " bytes\n"
              << report.sfx_info.string() << "\n"
              << report.product_info.string() << "\n";
    if (!report.repository.empty())
        std::cout << report.repository.string() << ": " << report.published.size() << " files written\n";
    return 0;
}

int sign(arguments& args, bool xml) {
    std::string in, out, key, line_end = "lf";
    int version = 3;
    bool pad = false;
    while (!args.done()) {
        const std::string a = args.next();
        if (a == "--key") key = args.value(a);
        else if (a == "--sig-version") version = parse_version(args.value(a));
        else if (a == "--line-end" && xml) line_end = args.value(a);
        else if (a == "--pad" && !xml) pad = true;
        else if (!a.empty() && a[0] == '-') throw usage_error("unknown option " + a);
        else if (in.empty()) in = a;
        else if (out.empty()) out = a;
        else throw usage_error("too many arguments");
    }
    if (in.empty() || out.empty()) throw usage_error(xml ? "sign-xml IN OUT" : "sign-file IN OUT");
    const auto signer = pack::openssl_signer(key_path(key));
    const bytes content = read_file(in);
    if (xml) {
        std::string text(content.begin(), content.end());
        const std::string end = line_end == "lf" ? "\n" : line_end == "crlf" ? "\r\n" : line_end == "none" ? "" : "?";
        if (end == "?") throw usage_error("--line-end takes lf, crlf or none");
        pack::append_text_signature(text, version, signer, end);
        write_file(out, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    } else {
        bytes data = content;
        pack::append_binary_signature(data, version, signer, pad);
        write_file(out, data);
    }
    return 0;
}

int verify(arguments& args) {
    if (args.done()) throw usage_error("verify FILE");
    const std::string path = args.next();
    const bytes data = read_file(path);
    const byte_view view(data);
    std::optional<sfx::signature_location> where;
    try {
        where = sfx::locate_signature(view);
    } catch (const std::exception& e) {
        std::cout << path << ": damaged signature block (" << e.what() << ")\n";
        return 1;
    }
    if (!where) {
        std::cout << path << ": no signature block\n";
        return 1;
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
    return any ? 0 : 1;
}

std::uint16_t image_magic(const bytes& data) {
    const auto pe = sfx::detect_pe(byte_view(data));
    if (!pe.is_pe) throw std::runtime_error("not a PE image");
    return byte_view(data).u16(pe.checksum_offset - 64);
}

int list_or_extract(arguments& args, bool extract) {
    if (args.done()) throw usage_error(extract ? "extract FILE --out DIR" : "list FILE");
    const std::string path = args.next();
    std::string out, alias, sha;
    bool all = false;
    while (!args.done()) {
        const std::string a = args.next();
        if (a == "--out" && extract) out = args.value(a);
        else if (a == "--alias" && extract) alias = args.value(a);
        else if (a == "--sha" && extract) sha = args.value(a);
        else if (a == "--all" && extract) all = true;
        else throw usage_error("unknown option " + a);
    }
    bytes data = read_file(path);
    const std::uint16_t magic = image_magic(data);
    auto mapping = std::make_shared<files::memory_mapping>(std::move(data));
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
    if (!extract) {
        std::cout << "alias\tsha-256\toffset\tsize\ttimestamp\tflags\n";
        for (const auto& e : entries)
            std::cout << (e.alias.empty() ? "-" : utf::to_utf8(e.alias)) << "\t" << utf::to_utf8(e.sha) << "\t"
                      << e.offset << "\t" << e.size << "\t" << e.timestamp << "\t"
                      << (e.flags == 1 ? "lzma" : e.flags == 0 ? "stored" : std::to_string(e.flags)) << "\n";
        return 0;
    }
    if (out.empty() || (!all && alias.empty() && sha.empty())) throw usage_error("extract needs --out and a choice");
    // Every chosen entry is decoded and checked before the first file is
    // written: a damaged payload yields nothing rather than some of it.
    std::vector<std::pair<std::string, bytes>> chosen;
    for (const auto& e : entries) {
        const bool wanted = all || (!alias.empty() && utf::to_utf8(e.alias) == alias) ||
                            (!sha.empty() && utf::to_utf8(e.sha) == sha);
        if (!wanted) continue;
        const std::string name = e.alias.empty() ? utf::to_utf8(e.sha) : base_name(utf::to_utf8(e.alias));
        if (name.empty() || name == "." || name == "..") throw std::runtime_error("entry name unusable as a file name");
        chosen.emplace_back(name, sfx::unpack_entry(mapping->view(), e));
    }
    int written = 0;
    for (const auto& [name, content] : chosen) {
        write_file(out + "/" + name, content);
        std::cout << out << "/" << name << "\n";
        ++written;
    }
    if (!written) throw std::runtime_error("no such entry");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
        std::cout << usage_text;
        return argc < 2 ? 2 : 0;
    }
    const std::string command = argv[1];
    arguments args(argc, argv, 2);
    try {
        if (command == "build") return build_command(args);
        if (command == "pack") return pack_command(args);
        if (command == "sign-xml") return sign(args, true);
        if (command == "sign-file") return sign(args, false);
        if (command == "verify") return verify(args);
        if (command == "list") return list_or_extract(args, false);
        if (command == "extract") return list_or_extract(args, true);
        throw usage_error("unknown command " + command);
    } catch (const usage_error& e) {
        std::cerr << "veltro-pack: " << e.what() << "\n\n" << usage_text;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "veltro-pack: " << e.what() << "\n";
        return 1;
    }
}
