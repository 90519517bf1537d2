// The packer as release engineers use it: through its command line.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "../support/host_shell.hpp"
#include "../support/pe_image.hpp"
#include "framework/byte_view.hpp"
#include "veltro_sfx_lib/signature/signature_block.hpp"

using namespace qzr;

namespace {

const std::string packer = QZR_PACKER;
const std::string win32_stub = std::string(QZR_SOURCE_DIR) + "/build/win32/bin/veltro_sfx.exe";
const std::string keys = std::string(QZR_SOURCE_DIR) + "/keys/dev";

using test::exists;
using test::read_file;
using test::result;
using test::sh;
using test::write_file;

class Packer : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        char tmpl[] = "/tmp/qzr-pack-XXXXXX";
        dir = mkdtemp(tmpl);
        auto stub = test::make_pe({});
        write_file(at("stub.exe"), std::string(stub.begin(), stub.end()));
        std::mt19937 rng(11);
        std::string big(300000, ' ');
        for (auto& c : big) c = "abcdefgh \n"[rng() % 10];
        write_file(at("setup.bin"), big);
        write_file(at("sfx-info.xml"), "<?xml version=\"1.0\"?>\n<sfx-info/>\n");
    }
    void TearDown() override { sh("rm -rf '" + dir + "'"); }
    std::string at(const std::string& name) const { return dir + "/" + name; }
    result pack(const std::string& out, const std::string& extra = "") {
        return sh(packer + " pack --stub " + at("stub.exe") + " --out " + at(out) + " --timestamp 1700000000 --file " +
                  at("sfx-info.xml") + " --lzma --file data/setup.bin=" + at("setup.bin") + " --anonymous " +
                  at("setup.bin") + " " + extra);
    }
};

}  // namespace

TEST_F(Packer, PackedOutputIsReproducibleAndSigned) {
    ASSERT_EQ(pack("a.exe").status, 0);
    ASSERT_EQ(pack("b.exe").status, 0);
    EXPECT_EQ(read_file(at("a.exe")), read_file(at("b.exe")));
    EXPECT_EQ(read_file(at("a.exe")).size() % 8, 0u);
    const result v = sh(packer + " verify " + at("a.exe"));
    EXPECT_EQ(v.status, 0);
    EXPECT_NE(v.output.find("version 3"), std::string::npos);
    EXPECT_NE(v.output.find("key set 7: verified by K4"), std::string::npos);

    ASSERT_EQ(pack("k6.exe", "--key " + keys + "/k6.pem --sig-version 2").status, 0);
    const result k6 = sh(packer + " verify " + at("k6.exe"));
    EXPECT_NE(k6.output.find("version 2"), std::string::npos);
    EXPECT_EQ(k6.output.find("key set 7:"), std::string::npos);
    EXPECT_NE(k6.output.find("key set 1: verified by K6"), std::string::npos);
}

TEST_F(Packer, ListAndExtractCheckDigests) {
    ASSERT_EQ(pack("a.exe").status, 0);
    const result list = sh(packer + " list " + at("a.exe"));
    ASSERT_EQ(list.status, 0);
    EXPECT_NE(list.output.find("sfx-info.xml\t"), std::string::npos);
    EXPECT_NE(list.output.find("data/setup.bin\t"), std::string::npos);
    EXPECT_NE(list.output.find("\t1700000000\tlzma"), std::string::npos);
    sh("mkdir -p " + at("out"));
    ASSERT_EQ(sh(packer + " extract " + at("a.exe") + " --out " + at("out") + " --alias data/setup.bin").status, 0);
    EXPECT_EQ(read_file(at("out/setup.bin")), read_file(at("setup.bin")));

    // A changed byte inside the compressed entry is caught by its digest or
    // the decoder, and nothing is written.
    std::string packed = read_file(at("a.exe"));
    const std::size_t middle = packed.size() - 20000;
    packed[middle] = static_cast<char>(packed[middle] ^ 0x55);
    write_file(at("bad.exe"), packed);
    sh("mkdir -p " + at("bad"));
    EXPECT_EQ(sh(packer + " extract " + at("bad.exe") + " --out " + at("bad") + " --all").status, 3);
    EXPECT_EQ(sh("ls " + at("bad")).output, "");
}

TEST_F(Packer, EntriesDecodeWithTheXzTool) {
    ASSERT_EQ(pack("a.exe").status, 0);
    const result list = sh(packer + " list " + at("a.exe") + " | grep '^data/setup.bin' | cut -f3,4");
    const auto tab = list.output.find('\t');
    const std::size_t offset = std::stoul(list.output.substr(0, tab));
    const std::size_t size = std::stoul(list.output.substr(tab + 1));
    write_file(at("entry.lzma"), read_file(at("a.exe")).substr(offset, size));
    EXPECT_EQ(sh("xz --format=lzma -dc " + at("entry.lzma") + " | cmp - " + at("setup.bin")).status, 0);
}

TEST_F(Packer, ManifestNamesEntriesKindsAndTimes) {
    write_file(at("list.txt"), "# kind alias path [timestamp]\n"
                               "stored sfx-info.xml " + at("sfx-info.xml") + " 42\n"
                               "\n"
                               "lzma - " + at("setup.bin") + "\n");
    ASSERT_EQ(sh(packer + " pack --stub " + at("stub.exe") + " --out " + at("m.exe") + " --timestamp 7 --manifest " +
                 at("list.txt"))
                  .status,
              0);
    const result list = sh(packer + " list " + at("m.exe"));
    EXPECT_NE(list.output.find("sfx-info.xml\t"), std::string::npos);
    EXPECT_NE(list.output.find("\t42\tstored"), std::string::npos);
    EXPECT_NE(list.output.find("\n-\t"), std::string::npos);
    EXPECT_NE(list.output.find("\tlzma"), std::string::npos);
    write_file(at("bad.txt"), "zip name " + at("setup.bin") + "\n");
    const result bad = sh(packer + " pack --stub " + at("stub.exe") + " --out " + at("n.exe") + " --manifest " + at("bad.txt"));
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.output.find("bad.txt:1:"), std::string::npos);
}

// --lzma, --stored and --timestamp reach only the entries given after them,
// whatever else comes between; a manifest's entries keep their place.
TEST_F(Packer, EntryOptionsApplyToTheEntriesThatFollow) {
    for (const char* name : {"a", "b", "c", "d", "e"}) write_file(at(name), std::string(100, *name));
    write_file(at("list.txt"), "lzma m " + at("c") + " 5\n");
    const result r = sh(packer + " pack --timestamp 010 --file " + at("a") + " --lzma --stub " + at("stub.exe") +
                        " --file " + at("b") + " --timestamp 22 --manifest " + at("list.txt") + " --anonymous " +
                        at("d") + " --stored --out " + at("o.exe") + " --file " + at("e") + " --lzma");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(sh(packer + " list " + at("o.exe") + " | cut -f1,5,6").output,
              "alias\ttimestamp\tflags\n"
              "a\t10\tstored\n"  // 010 is decimal, not octal
              "b\t10\tlzma\n"
              "m\t5\tlzma\n"
              "-\t22\tlzma\n"
              "e\t22\tstored\n");
}

TEST_F(Packer, SignsDocumentsAndFiles) {
    ASSERT_EQ(sh(packer + " sign-xml " + at("sfx-info.xml") + " " + at("signed.xml") + " --line-end crlf").status, 0);
    const std::string doc = read_file(at("signed.xml"));
    EXPECT_EQ(doc.substr(doc.size() - 6), " -->\r\n");
    EXPECT_EQ(sh(packer + " verify " + at("signed.xml")).status, 0);
    ASSERT_EQ(sh(packer + " sign-file " + at("setup.bin") + " " + at("signed.bin") + " --sig-version 2").status, 0);
    EXPECT_EQ(read_file(at("signed.bin")).size(), read_file(at("setup.bin")).size() + 72);
    EXPECT_EQ(sh(packer + " verify " + at("signed.bin")).status, 0);
    EXPECT_EQ(sh(packer + " verify " + at("setup.bin")).status, 1);
}

TEST_F(Packer, RefusesBadInputClearly) {
    auto unstripped = read_file(at("stub.exe")) + "SYMBOLS";
    write_file(at("unstripped.exe"), unstripped);
    const result r = sh(packer + " pack --stub " + at("unstripped.exe") + " --out " + at("x.exe"));
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.output.find("7 bytes follow the last section"), std::string::npos);
    struct stat st {};
    EXPECT_NE(stat(at("x.exe").c_str(), &st), 0) << "no output on failure";

    EXPECT_EQ(sh(packer + " pack --stub " + at("stub.exe")).status, 2);
    EXPECT_EQ(sh(packer + " frobnicate").status, 2);
    EXPECT_EQ(sh(packer + " pack --stub " + at("stub.exe") + " --out " + at("y.exe") + " --file " + at("missing")).status, 3);
    EXPECT_EQ(sh(packer + " pack --stub " + at("setup.bin") + " --out " + at("z.exe")).status, 3);
    EXPECT_EQ(sh(packer + " pack --stub " + at("stub.exe") + " --out " + at("y.exe") + " --sig-version 4").status, 2);
}

TEST_F(Packer, AuthenticodeSigningAfterwardsKeepsVersionThree) {
    if (sh("command -v osslsigncode").status != 0) GTEST_SKIP() << "osslsigncode is not installed";
    struct stat st {};
    if (stat(win32_stub.c_str(), &st) != 0) GTEST_SKIP() << "the win32 build is missing";
    ASSERT_EQ(sh("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=veltro-test -keyout " + at("ac.key") +
                 " -out " + at("ac.crt"))
                  .status,
              0);
    for (int version : {3, 2}) {
        const std::string packed = at("v" + std::to_string(version) + ".exe");
        const std::string signed_out = at("v" + std::to_string(version) + "-ac.exe");
        ASSERT_EQ(sh(packer + " pack --stub " + win32_stub + " --out " + packed + " --sig-version " +
                     std::to_string(version) + " --timestamp 1 --file " + at("sfx-info.xml"))
                      .status,
                  0);
        const result ac = sh("osslsigncode sign -certs " + at("ac.crt") + " -key " + at("ac.key") + " -in " + packed +
                             " -out " + signed_out);
        ASSERT_EQ(ac.status, 0) << ac.output;
        const std::string bytes = read_file(signed_out);
        ASSERT_GT(bytes.size(), read_file(packed).size());
        const int key = sfx::verify_block(byte_view(bytes.data(), bytes.size()), 7);
        if (version == 3) EXPECT_EQ(key, 4) << "version 3 leaves the certificate table out";
        else EXPECT_EQ(key, 0) << "version 2 covers the security entry, which Authenticode changed";
    }
}
