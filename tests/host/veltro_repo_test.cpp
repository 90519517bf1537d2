// The repository publisher through its command line, and its output read back
// the way the stub reads a download: container signature, decoding, then the
// digest or the signature of what came out.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "../support/host_shell.hpp"
#include "../support/pe_image.hpp"
#include "framework/byte_view.hpp"
#include "framework/hex.hpp"
#include "framework/lzma_codec.hpp"
#include "framework/sha256.hpp"
#include "framework/utf.hpp"
#include "openssl_signer.hpp"
#include "signature_writer.hpp"
#include "veltro_sfx_lib/description/product_info_parser.hpp"
#include "veltro_sfx_lib/run/command_line.hpp"
#include "veltro_sfx_lib/run/value_holder.hpp"
#include "veltro_sfx_lib/signature/signature_block.hpp"

using namespace qzr;

namespace {

const std::string tool = QZR_REPO_TOOL;
const std::string packer = QZR_PACKER;
const std::string keys = std::string(QZR_SOURCE_DIR) + "/keys/dev";

using test::exists;
using test::read_file;
using test::result;
using test::sh;
using test::write_file;

std::vector<std::uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }
std::string sha_of(const std::string& s) { return hex::encode(root::sha256::of(bytes_of(s))); }
// The path the stub asks for: digest in groups of four, then the digest.
std::string object_of(const std::string& sha) {
    return "universe/" + sha.substr(0, 4) + "/" + sha.substr(4, 4) + "/" + sha.substr(8, 4) + "/" + sha + ".lzma";
}

struct any_machine : repository::conditions::host_facts_intf {
    environment::os_record record;
    const environment::os_record& os() const override { return record; }
    std::optional<repository::conditions::brand> stub_brand() const override { return std::nullopt; }
    std::optional<std::uint32_t> file_attributes(const std::wstring&) const override { return std::nullopt; }
    bool device_exists(const std::wstring&) const override { return false; }
    std::uint64_t file_size(const std::wstring&) const override { return 0; }
};

// What the downloader does with a fetched file: the container's signature
// with the download key set, then the LZMA content.
std::vector<std::uint8_t> open_as_stub(const std::string& container) {
    const byte_view view(container.data(), container.size());
    EXPECT_EQ(sfx::verify_block(view, 7), 4) << "container signature";
    EXPECT_TRUE(packers::read_lzma_header(view).size_known);
    return packers::lzma_decode(view);
}

class Repository : public ::testing::Test {
protected:
    std::string dir, setup, payload, module, info_text;
    void SetUp() override {
        char tmpl[] = "/tmp/qzr-repo-XXXXXX";
        dir = mkdtemp(tmpl);
        std::mt19937 rng(5);
        setup.assign(120000, ' ');
        for (auto& c : setup) c = "veltro \n"[rng() % 8];
        payload = "setup data\n";
        const auto pe = test::make_pe({});
        module.assign(pe.begin(), pe.end());
        write_file(at("veltro.exe"), setup);
        write_file(at("payload.bin"), payload);
        write_file(at("veltro_mod.dll"), module);
        info_text = product_info({{"veltro.exe", setup}, {"data\\payload.bin", payload}});
        write_file(at("product-info.xml"), info_text);
    }
    void TearDown() override { sh("rm -rf '" + dir + "'"); }
    std::string at(const std::string& name) const { return dir + "/" + name; }

    static std::string product_info(const std::vector<std::pair<std::string, std::string>>& files,
                                     const std::string& size_override = "") {
        std::string doc = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<product-info>\n  <name>Demo</name>\n"
                          "  <version>1.2.3.4</version>\n";
        for (const auto& [name, content] : files)
            doc += "  <setup-files><file><name>" + name + "</name><sha-256>" + sha_of(content) +
                   "</sha-256><size>" + (size_override.empty() ? std::to_string(content.size()) : size_override) +
                   "</size></file></setup-files>\n";
        return doc + "</product-info>\n";
    }
    result publish(const std::string& out, const std::string& extra = "", const std::string& info = "product-info.xml") {
        return sh(tool + " publish --out " + at(out) + " --product demo --channel stable --timestamp 1700000000" +
                  " --product-info " + at(info) + " --module " + at("veltro_mod.dll") + " --file " + at("veltro.exe") +
                  " --file " + at("payload.bin") + " " + extra);
    }
    result verify(const std::string& tree, const std::string& extra = "") {
        return sh(tool + " verify " + at(tree) + " " + extra);
    }
};

}  // namespace

TEST_F(Repository, PublishedObjectsPassTheStubsChecks) {
    // With the copy a stub started with /noupdate asks for: the channel
    // pinned to the document's version.
    const result r = publish("repo", "--pinned");
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string layout = sh("cd " + at("repo") + " && find . -type f | sort").output;
    EXPECT_EQ(layout, "./defs/demo/1/2/3/4/stable.xml.lzma\n./defs/demo/stable.xml.lzma\n"
                      "./dll/demo/x86/veltro_mod.dll.lzma\n./" +
                          std::min(object_of(sha_of(setup)), object_of(sha_of(payload))) + "\n./" +
                          std::max(object_of(sha_of(setup)), object_of(sha_of(payload))) + "\n");
    EXPECT_TRUE(read_file(at("repo/defs/demo/1/2/3/4/stable.xml.lzma")) ==
                read_file(at("repo/defs/demo/stable.xml.lzma")))
        << "the pinned copy is the channel's document";
    const result v = verify("repo");
    EXPECT_EQ(v.status, 0) << v.output;
    EXPECT_NE(v.output.find("clean with key set 7: 2 setup files, 2 product-info documents, 1 modules"),
              std::string::npos);

    for (const std::string* content : {&setup, &payload}) {
        const auto decoded = open_as_stub(read_file(at("repo/" + object_of(sha_of(*content)))));
        EXPECT_EQ(hex::encode(root::sha256::of(decoded)), sha_of(*content));
    }

    // The document: signed as a document inside the signed container, and
    // read by the stub's own parser.
    const auto document = open_as_stub(read_file(at("repo/defs/demo/stable.xml.lzma")));
    EXPECT_EQ(sfx::verify_block(byte_view(document), 7), 4) << "document signature";
    EXPECT_EQ(std::string(document.begin(), document.begin() + info_text.size()), info_text);
    sfx::sfx_data_holder context;
    context.params = std::make_shared<sfx::value_holder>();
    context.command = std::make_shared<sfx::command_line>(L"", false);
    sfx::product_info_parser parser(context, std::make_shared<any_machine>());
    parser.parse_data(document);
    ASSERT_EQ(parser.get_setup_files().size(), 2u);
    EXPECT_EQ(utf::to_utf8(parser.get_setup_files()[1].sha256), sha_of(payload));

    // The module: a signed executable inside the signed container.
    const auto dll = open_as_stub(read_file(at("repo/dll/demo/x86/veltro_mod.dll.lzma")));
    EXPECT_EQ(sfx::verify_block(byte_view(dll), 7), 4) << "module signature";
    EXPECT_TRUE(sfx::detect_pe(byte_view(dll)).is_pe);
    EXPECT_EQ(std::string(dll.begin(), dll.begin() + module.size()), module);
}

TEST_F(Repository, PublishingTwiceGivesTheSameBytes) {
    ASSERT_EQ(publish("a").status, 0);
    ASSERT_EQ(publish("b").status, 0);
    const result diff = sh("diff -r " + at("a") + " " + at("b"));
    EXPECT_EQ(diff.status, 0) << diff.output;
    struct stat st {};
    ASSERT_EQ(stat(at("a/defs/demo/stable.xml.lzma").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1700000000);
    EXPECT_EQ(st.st_mode & 0044, 0044u) << "readable by the server";
    ASSERT_EQ(stat(at("a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0055, 0055u) << "the tree's folder may be listed by the server";
}

// A lower level trades size for publishing time; the stub reads it alike.
TEST_F(Repository, CompressionLevelIsTheCallersChoice) {
    ASSERT_EQ(publish("fast", "--level 0").status, 0);
    ASSERT_EQ(publish("small").status, 0);
    const std::string object = object_of(sha_of(setup));
    EXPECT_GT(read_file(at("fast/" + object)).size(), read_file(at("small/" + object)).size());
    EXPECT_EQ(verify("fast").status, 0);
    const auto decoded = open_as_stub(read_file(at("fast/" + object)));
    EXPECT_EQ(std::string(decoded.begin(), decoded.end()), setup);
    const result refused = publish("never", "--level 10");
    EXPECT_EQ(refused.status, 2) << refused.output;
    EXPECT_NE(refused.output.find("--level takes 0 to 9"), std::string::npos) << refused.output;
    EXPECT_FALSE(exists(at("never")));
}

TEST_F(Repository, VerifyNamesEveryPlantedFault) {
    ASSERT_EQ(publish("repo").status, 0);
    const std::string setup_object = object_of(sha_of(setup)), payload_object = object_of(sha_of(payload));
    const auto plant = [&](const std::string& name, const std::string& how) {
        EXPECT_EQ(sh("cp -a " + at("repo") + " " + at(name) + " && cd " + at(name) + " && " + how).status, 0);
        return verify(name);
    };

    std::string flipped = read_file(at("repo/" + setup_object));
    flipped[flipped.size() / 2] ^= 0x20;
    write_file(at("flipped.lzma"), flipped);
    result v = plant("flip", "cp " + at("flipped.lzma") + " " + setup_object);
    EXPECT_EQ(v.status, 1);
    EXPECT_NE(v.output.find(setup_object + ": the container signature does not verify with key set 7"),
              std::string::npos)
        << v.output;

    const std::string elsewhere = object_of(sha_of("something else"));
    v = plant("renamed", "mkdir -p $(dirname " + elsewhere + ") && mv " + setup_object + " " + elsewhere);
    EXPECT_EQ(v.status, 1);
    EXPECT_NE(v.output.find(elsewhere + ": decodes to content whose SHA-256 is " + sha_of(setup)), std::string::npos)
        << v.output;
    EXPECT_NE(v.output.find("defs/demo/stable.xml.lzma: setup file veltro.exe is missing: " + setup_object),
              std::string::npos);

    v = plant("missing", "rm " + payload_object);
    EXPECT_EQ(v.status, 1);
    EXPECT_EQ(v.output, "defs/demo/stable.xml.lzma: setup file data\\payload.bin is missing: " + payload_object + "\n");

    // An unsigned document in a container that is itself validly signed.
    auto container = packers::lzma_encode(bytes_of(info_text), 9);
    pack::append_binary_signature(container, 3, pack::openssl_signer(keys + "/k4.pem"), false);
    write_file(at("unsigned.lzma"), std::string(container.begin(), container.end()));
    v = plant("unsigned", "cp " + at("unsigned.lzma") + " defs/demo/stable.xml.lzma && touch defs/demo/notes.txt");
    EXPECT_EQ(v.status, 1);
    EXPECT_EQ(v.output, "defs/demo/notes.txt: not a repository object (setup files live under universe/ at their "
                        "digest, product-info under defs/, modules under dll/)\n"
                        "defs/demo/stable.xml.lzma: the product-info document is not signed\n");
}

TEST_F(Repository, RefusesWhatTheStubWouldRejectAndWritesNothing) {
    // A setup file whose content differs from what the document states.
    write_file(at("payload.bin"), "other data\n");
    result r = publish("repo");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.output.find("setup file data\\payload.bin: SHA-256 of " + at("payload.bin") + " is " +
                            sha_of("other data\n") + ", the product-info gives " + sha_of(payload)),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("nothing written"), std::string::npos);
    EXPECT_EQ(sh("ls -A " + dir).output,
              "payload.bin\nproduct-info.xml\nveltro.exe\nveltro_mod.dll\n") << "no output and no staging left";
    write_file(at("payload.bin"), payload);

    // Wrong size, a file not given, an unusable digest text, a bad name.
    write_file(at("sized.xml"), product_info({{"veltro.exe", setup}}, "12"));
    r = publish("repo", "", "sized.xml");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.output.find("setup file veltro.exe: " + at("veltro.exe") + " has 120000 bytes, the product-info "
                            "gives \"12\""),
              std::string::npos)
        << r.output;
    std::string upper = product_info({{"veltro.exe", setup}, {"extra.bin", "not given"}});
    const auto pos = upper.find(sha_of(setup));
    for (std::size_t i = pos; i < pos + 64; ++i) upper[i] = static_cast<char>(std::toupper(upper[i]));
    write_file(at("odd.xml"), upper);
    r = sh(tool + " publish --out " + at("repo") + " --product de/mo --channel stable --product-info " + at("odd.xml") +
           " --file " + at("veltro.exe"));
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.output.find("product name \"de/mo\" holds '/'"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("is not a SHA-256 digest in lowercase hex"), std::string::npos);
    EXPECT_NE(r.output.find("setup file extra.bin: no given file has SHA-256 " + sha_of("not given")),
              std::string::npos);
    EXPECT_FALSE(exists(at("repo")));

    // A pinned channel needs a version to name its folders by.
    std::string unversioned = info_text;
    unversioned.erase(unversioned.find("  <version>"), std::string("  <version>1.2.3.4</version>\n").size());
    write_file(at("unversioned.xml"), unversioned);
    r = publish("repo", "--pinned", "unversioned.xml");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.output.find("unversioned.xml: gives no version, which names the pinned channel's folders"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(exists(at("repo")));

    // A key the stub does not accept for downloads.
    r = publish("repo", "--key " + keys + "/k6.pem");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.output.find("does not verify with key set 7"), std::string::npos) << r.output;
    EXPECT_FALSE(exists(at("repo")));
    EXPECT_EQ(sh("ls -A " + dir + " | grep publish").output, "") << "the staging folder is gone";
    EXPECT_EQ(publish("repo6", "--key " + keys + "/k6.pem --key-set 1").status, 0);
    EXPECT_EQ(verify("repo6", "--key-set 1").status, 0);
    EXPECT_EQ(verify("repo6").status, 1);
}

TEST_F(Repository, PublishesAnotherChannelIntoAnExistingTree) {
    ASSERT_EQ(publish("repo").status, 0);
    const std::string before = sh("cd " + at("repo") + " && find . -type f | sort | xargs sha256sum").output;

    // Refused: the existing tree stays exactly as it was.
    write_file(at("bad.xml"), product_info({{"veltro.exe", "not the setup"}}));
    EXPECT_EQ(publish("repo", "", "bad.xml").status, 3);
    write_file(at("beta-plain.xml"), product_info({{"veltro.exe", setup}}));
    ASSERT_EQ(sh(packer + " sign-xml " + at("beta-plain.xml") + " " + at("k6.xml") + " --key " + keys + "/k6.pem").status, 0);
    const result k6 = publish("repo", "", "k6.xml");
    EXPECT_EQ(k6.status, 3);
    EXPECT_NE(k6.output.find("carries a signature that key set 7 does not accept"), std::string::npos) << k6.output;
    EXPECT_EQ(sh("cd " + at("repo") + " && find . -type f | sort | xargs sha256sum").output, before);

    // A document signed already is published as it is, not signed twice.
    ASSERT_EQ(sh(packer + " sign-xml " + at("beta-plain.xml") + " " + at("beta.xml")).status, 0);
    const result r = sh(tool + " publish --out " + at("repo") + " --product demo --channel beta --product-info " +
                        at("beta.xml") + " --file " + at("veltro.exe") + " --file " + at("payload.bin"));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(object_of(sha_of(setup)) + " (unchanged)"), std::string::npos);
    EXPECT_NE(r.output.find("payload.bin: not named by the product-info"), std::string::npos);
    EXPECT_TRUE(exists(at("repo/defs/demo/stable.xml.lzma")));
    const auto beta = open_as_stub(read_file(at("repo/defs/demo/beta.xml.lzma")));
    EXPECT_EQ(std::string(beta.begin(), beta.end()), read_file(at("beta.xml")));
    const result v = verify("repo");
    EXPECT_EQ(v.status, 0) << v.output;
    EXPECT_NE(v.output.find("2 setup files, 2 product-info documents, 1 modules"), std::string::npos);
    EXPECT_EQ(sh("ls -A " + dir + " | grep publish").output, "");
}
