// veltro-repo: publishes products into a repository tree and checks trees.
#include <iostream>
#include <string>

#include "cli_support.hpp"
#include "openssl_signer.hpp"
#include "repository_publisher.hpp"
#include "repository_verifier.hpp"
#include "veltro_sfx_lib/signature/dsa_keys.hpp"

namespace {

using namespace qzr;
using pack::usage_error;

const char* const usage_text =
    "usage: veltro-repo <command> [options]\n"
    "\n"
    "  publish --out DIR --product NAME --channel CHANNEL --product-info FILE\n"
    "          [--module FILE] [--file PATH]... [--dir FOLDER]...\n"
    "          [--key PEM] [--sig-version 2|3] [--key-set N] [--timestamp SECONDS] [--level 0-9]\n"
    "      writes into the repository tree DIR:\n"
    "        universe/<h0-3>/<h4-7>/<h8-11>/<sha-256>.lzma  each setup file the product-info\n"
    "                                   names (in any setup-files group), found by its SHA-256\n"
    "                                   among the --file files and the files under --dir\n"
    "        dll/NAME/x86/veltro_mod.dll.lzma   the compatibility module, signed\n"
    "        defs/NAME/CHANNEL.xml.lzma         the product-info, signed as an XML document\n"
    "      each LZMA-compressed and signed again as a download. A document or module\n"
    "      that already carries a signature the stub accepts is kept as it is.\n"
    "      Every named file must be given with the SHA-256 and size the document\n"
    "      states; the tree is built beside DIR and checked like `verify` before it\n"
    "      is put in place, so a refused run writes nothing. An existing DIR gets\n"
    "      the new files, setup files first and the product-info last.\n"
    "      --timestamp (default: SOURCE_DATE_EPOCH) sets the time of every written file.\n"
    "      --level (default 9) is the LZMA preset: lower levels publish large files\n"
    "      faster at the cost of size; the stub reads every level the same.\n"
    "  verify DIR [--key-set N]\n"
    "      checks every file of the tree as the stub checks a download and prints\n"
    "      one line per problem; exit status 1 when there is any.\n"
    "\n"
    "The default key is " QZR_DEFAULT_KEY " (or $VELTRO_PACK_KEY); signatures are\n"
    "version 3 unless asked. Key set 7 (K4, K5) is the one the stub verifies downloads with.\n";

int parse_key_set(const std::string& text) {
    const auto n = pack::parse_number(text, "--key-set");
    try {
        if (n > 8) throw std::out_of_range("key set");
        sfx::keys::key_set(static_cast<int>(n));
    } catch (const std::exception&) {
        throw usage_error("--key-set takes 0 to 5, 7 or 8");
    }
    return static_cast<int>(n);
}

int publish_command(pack::arguments& args) {
    repo::publish_request request;
    std::string key;
    while (!args.done()) {
        const std::string a = args.next();
        if (a == "--out") request.out = args.value(a);
        else if (a == "--product") request.product = args.value(a);
        else if (a == "--channel") request.channel = args.value(a);
        else if (a == "--product-info") request.product_info = args.value(a);
        else if (a == "--module") request.module = args.value(a);
        else if (a == "--file") request.files.push_back(args.value(a));
        else if (a == "--dir") request.dirs.push_back(args.value(a));
        else if (a == "--key") key = args.value(a);
        else if (a == "--sig-version") request.version = pack::parse_version(args.value(a));
        else if (a == "--key-set") request.key_set = parse_key_set(args.value(a));
        else if (a == "--timestamp") request.timestamp = pack::parse_number(args.value(a), "--timestamp");
        else if (a == "--level") {
            const auto level = pack::parse_number(args.value(a), "--level");
            if (level > 9) throw usage_error("--level takes 0 to 9");
            request.level = static_cast<std::uint32_t>(level);
        }
        else throw usage_error("publish: unknown option " + a);
    }
    if (request.out.empty() || request.product.empty() || request.channel.empty() || request.product_info.empty())
        throw usage_error("publish needs --out, --product, --channel and --product-info");
    if (!request.timestamp) request.timestamp = pack::source_date_epoch();
    request.sign = pack::openssl_signer(pack::key_path(key));

    try {
        const auto result = repo::publish(request);
        for (const auto& note : result.notes) std::cerr << "veltro-repo: note: " << note << "\n";
        for (const auto& path : result.written) std::cout << path << "\n";
        for (const auto& path : result.unchanged) std::cout << path << " (unchanged)\n";
        std::cout << request.out.string() << ": " << request.product << "/" << request.channel << " published, "
                  << result.written.size() << " files written, " << result.unchanged.size() << " unchanged\n";
        return 0;
    } catch (const repo::publish_refused& e) {
        for (const auto& reason : e.reasons) std::cerr << "veltro-repo: " << reason << "\n";
        std::cerr << "veltro-repo: nothing written\n";
        return 1;
    }
}

int verify_command(pack::arguments& args) {
    std::string dir;
    int key_set = sfx::keys::default_key_set;
    while (!args.done()) {
        const std::string a = args.next();
        if (a == "--key-set") key_set = parse_key_set(args.value(a));
        else if (!a.empty() && a[0] == '-') throw usage_error("verify: unknown option " + a);
        else if (dir.empty()) dir = a;
        else throw usage_error("verify takes one folder");
    }
    if (dir.empty()) throw usage_error("verify DIR");
    const auto report = repo::verify_tree(dir, key_set);
    for (const auto& p : report.problems) std::cout << p << "\n";
    if (!report.problems.empty()) return 1;
    std::cout << dir << ": clean with key set " << key_set << ": " << report.setup_files << " setup files, "
              << report.documents << " product-info documents, " << report.modules << " modules\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
        std::cout << usage_text;
        return argc < 2 ? 2 : 0;
    }
    const std::string command = argv[1];
    pack::arguments args(argc, argv, 2);
    try {
        if (command == "publish") return publish_command(args);
        if (command == "verify") return verify_command(args);
        throw usage_error("unknown command " + command);
    } catch (const usage_error& e) {
        std::cerr << "veltro-repo: " << e.what() << "\n\n" << usage_text;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "veltro-repo: " << e.what() << "\n";
        return 1;
    }
}
