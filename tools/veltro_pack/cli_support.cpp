#include "cli_support.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>

#include "development_keys.hpp"
#include "openssl_signer.hpp"

#ifndef QZR_DEFAULT_KEY
#define QZR_DEFAULT_KEY "keys/dev/k4.pem"
#endif

namespace qzr::pack {

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), {}};
    if (in.bad()) throw std::runtime_error("cannot read " + path);
    return data;
}

void write_file(const std::string& path, std::span<const std::uint8_t> data) {
    const std::string tmp = path + ".part";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        if (!out.flush()) {
            std::remove(tmp.c_str());
            throw std::runtime_error("cannot write " + path);
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        throw std::runtime_error("cannot write " + path);
    }
}

std::string key_path(const std::string& given) {
    if (!given.empty()) return given;
    if (const char* env = std::getenv("VELTRO_PACK_KEY")) return env;
    return QZR_DEFAULT_KEY;
}

signing_key open_key(const std::string& path, bool release) {
    signing_key key{path, openssl_signer(path), development_key_of(path)};
    if (release && !key.development.empty())
        throw std::runtime_error(path + " is the development key " + key.development +
                                 ": a release is signed with a key of your own (see docs/keys.md)");
    return key;
}

void warn_if_development(const signing_key& key, const std::string& tool) {
    if (key.development.empty()) return;
    std::cerr << tool << ": warning: " << key.path << " is the development key " << key.development
              << ": anyone can sign with it, so ship nothing it signs\n";
}

std::uint64_t parse_number(const std::string& text, const char* what) {
    std::size_t used = 0;
    unsigned long long v = 0;
    try {
        v = std::stoull(text, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || text[0] < '0' || text[0] > '9')
        throw usage_error(std::string(what) + " takes a whole number: " + text);
    return v;
}

int parse_version(const std::string& text) {
    if (text == "2") return 2;
    if (text == "3") return 3;
    throw usage_error("--sig-version takes 2 or 3");
}

std::optional<std::uint64_t> source_date_epoch() {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (!epoch) return std::nullopt;
    return parse_number(epoch, "SOURCE_DATE_EPOCH");
}

std::uint64_t modification_time(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot read " + path);
    return static_cast<std::uint64_t>(st.st_mtime);
}

}  // namespace qzr::pack
