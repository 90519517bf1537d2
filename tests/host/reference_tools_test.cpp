// Our digests and LZMA codec against independent implementations on this
// machine: coreutils, the xz tool and Python's lzma module.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include <unistd.h>

#include "framework/hex.hpp"
#include "framework/lzma_codec.hpp"
#include "framework/md5.hpp"
#include "framework/sha256.hpp"

using namespace qzr;

namespace {

class scratch_dir {
public:
    scratch_dir() {
        char tmpl[] = "/tmp/qzr-ref-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~scratch_dir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
    return out;
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& data) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
}

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::uint8_t> random_bytes(std::size_t n, unsigned seed, bool compressible) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(compressible ? "abcde fghij\n"[rng() % 12] : rng());
    return v;
}

bool have(const char* tool) { return run(std::string("command -v ") + tool).size() > 0; }

}  // namespace

TEST(ReferenceTools, DigestsAgreeWithCoreutils) {
    scratch_dir dir;
    for (std::size_t n : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 1000u, (1u << 20) + 1}) {
        const auto data = random_bytes(n, static_cast<unsigned>(n), false);
        write_file(dir.file("d"), data);
        EXPECT_EQ(hex::encode(root::sha256::of(data)), run("sha256sum '" + dir.file("d") + "'").substr(0, 64)) << n;
        EXPECT_EQ(hex::encode(root::md5::of(data)), run("md5sum '" + dir.file("d") + "'").substr(0, 32)) << n;
    }
}

TEST(ReferenceTools, LzmaStreamsOfTheXzTool) {
    if (!have("xz")) GTEST_SKIP() << "xz is not installed";
    scratch_dir dir;
    for (std::size_t n : {0u, 100u, 200000u, (2u << 20) + 7}) {
        const auto data = random_bytes(n, static_cast<unsigned>(n + 1), true);
        write_file(dir.file("plain"), data);
        run("xz --format=lzma -6 -c '" + dir.file("plain") + "' > '" + dir.file("by-xz.lzma") + "'");
        const auto theirs = read_file(dir.file("by-xz.lzma"));
        ASSERT_GE(theirs.size(), 13u);
        EXPECT_EQ(packers::lzma_decode(byte_view(theirs)), data) << n;

        // And the tool reads what we write.
        write_file(dir.file("ours.lzma"), packers::lzma_encode(data, 9));
        run("xz --format=lzma -dc '" + dir.file("ours.lzma") + "' > '" + dir.file("back") + "'");
        EXPECT_EQ(read_file(dir.file("back")), data) << n;
    }
}

TEST(ReferenceTools, LzmaStreamsOfPython) {
    if (!have("python3")) GTEST_SKIP() << "python3 is not installed";
    scratch_dir dir;
    const auto data = random_bytes(150000, 7, true);
    write_file(dir.file("plain"), data);
    run("python3 -c \"import lzma,sys; d=open(sys.argv[1],'rb').read(); "
        "open(sys.argv[2],'wb').write(lzma.compress(d, format=lzma.FORMAT_ALONE))\" '" +
        dir.file("plain") + "' '" + dir.file("py.lzma") + "'");
    EXPECT_EQ(packers::lzma_decode(byte_view(read_file(dir.file("py.lzma")))), data);
}
