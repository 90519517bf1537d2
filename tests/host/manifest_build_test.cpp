// `veltro-pack build`: a release manifest to signed documents, an installer
// and a repository, or one clear message and nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../support/host_shell.hpp"
#include "../support/pe_image.hpp"

using namespace qzr;

namespace {

const std::string packer = QZR_PACKER;
const std::string repo_tool = QZR_REPO_TOOL;

using test::exists;
using test::read_file;
using test::result;
using test::sh;
using test::write_file;

// Line numbers below count from this text's first line.
const std::string base_manifest = R"([product]
name = "demo"
channel = "release"
version = "2.1.0.7"

[titles]
en-us = "Demo Product"
de-de = "Demo-Produkt"

[repository]
base-url = "https://downloads.example.test/demo"

[installer]
stub = "stub.exe"
timestamp = 1700000000

[[setup-files]]

[[setup-files.file]]
source = "veltro.exe"

[[setup-files.file]]
name = "setup.dat"
source = "data/setup.dat"
payload = "stored"

[[setup-files]]
conditions = '<os platform="arm64"/>'

[[setup-files.file]]
name = "arm64.dat"
source = "data/arm64.dat"
payload = "none"

[[setup-commands]]
executable = "veltro.exe"
arguments = "/from-manifest"
)";

class ManifestBuild : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        char tmpl[] = "/tmp/qzr-manifest-XXXXXX";
        dir = mkdtemp(tmpl);
        const auto stub = test::make_pe({});
        write_file(at("stub.exe"), std::string(stub.begin(), stub.end()));
        write_file(at("veltro.exe"), std::string(40000, 'M'));
        sh("mkdir -p '" + at("data") + "'");
        write_file(at("data/setup.dat"), std::string(70000, 'd'));
        write_file(at("data/arm64.dat"), std::string(5000, 'a'));
    }
    void TearDown() override { sh("rm -rf '" + dir + "'"); }
    std::string at(const std::string& name) const { return dir + "/" + name; }
    result build(const std::string& manifest, const std::string& extra = "") {
        write_file(at("demo.toml"), manifest);
        return sh("cd '" + dir + "' && " + packer + " build demo.toml " + extra + " 2>&1");
    }
    static std::string replaced(std::string text, const std::string& from, const std::string& to) {
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    }
};

}  // namespace

TEST_F(ManifestBuild, SignedDocumentsAndAReproducibleInstaller) {
    ASSERT_EQ(build(base_manifest, "--out one").status, 0);
    const result again = build(base_manifest, "--out two");
    ASSERT_EQ(again.status, 0) << again.output;
    for (const char* name : {"demo_setup.exe", "sfx-info.xml", "product-info.xml"})
        EXPECT_EQ(read_file(at(std::string("one/") + name)), read_file(at(std::string("two/") + name))) << name;

    for (const char* name : {"one/demo_setup.exe", "one/sfx-info.xml", "one/product-info.xml"}) {
        const result v = sh(packer + " verify " + at(name));
        EXPECT_EQ(v.status, 0) << name << v.output;
        EXPECT_NE(v.output.find("key set 7: verified by K4"), std::string::npos) << v.output;
    }

    // The payload: both documents under the aliases the stub looks for, the
    // files that travel with the installer by digest, each once.
    const result list = sh(packer + " list " + at("one/demo_setup.exe"));
    ASSERT_EQ(list.status, 0) << list.output;
    EXPECT_NE(list.output.find("sfx-info.xml\t"), std::string::npos);
    EXPECT_NE(list.output.find("demo/release.xml\t"), std::string::npos);
    const std::string master_sha = sh("sha256sum " + at("veltro.exe") + " | cut -c1-64").output.substr(0, 64);
    const std::string data_sha = sh("sha256sum " + at("data/setup.dat") + " | cut -c1-64").output.substr(0, 64);
    const std::string arm_sha = sh("sha256sum " + at("data/arm64.dat") + " | cut -c1-64").output.substr(0, 64);
    EXPECT_NE(list.output.find("-\t" + master_sha), std::string::npos);
    EXPECT_NE(list.output.find("\tlzma"), std::string::npos);
    EXPECT_NE(list.output.find("-\t" + data_sha), std::string::npos);
    EXPECT_EQ(list.output.find(arm_sha), std::string::npos) << "a repository-only file travelled";

    // A web installer: the same documents, no setup file in the payload.
    ASSERT_EQ(build(base_manifest, "--out web --web").status, 0);
    EXPECT_EQ(read_file(at("web/product-info.xml")), read_file(at("one/product-info.xml")));
    const result web = sh(packer + " list " + at("web/demo_setup.exe"));
    EXPECT_EQ(std::count(web.output.begin(), web.output.end(), '\n'), 3) << web.output;

    const std::string product_info = read_file(at("one/product-info.xml"));
    EXPECT_NE(product_info.find("<name>arm64.dat</name>\n      <sha-256>" + arm_sha + "</sha-256>\n"
                                "      <timestamp>1700000000</timestamp>\n      <size>5000</size>"),
              std::string::npos)
        << product_info;
    EXPECT_NE(product_info.find("<conditions>\n      <os platform=\"arm64\" />\n    </conditions>"), std::string::npos);
    EXPECT_NE(product_info.find("<setup-commands executable=\"veltro.exe\" arguments=\"/from-manifest\" />"),
              std::string::npos);
    const std::string sfx_info = read_file(at("one/sfx-info.xml"));
    EXPECT_NE(sfx_info.find("<product name=\"demo\" channel=\"release\" version=\"2.1.0.7\" />"), std::string::npos);
    EXPECT_NE(sfx_info.find("<base-url>https://downloads.example.test/demo</base-url>"), std::string::npos);
    EXPECT_NE(sfx_info.find("<title lang=\"de-de\">Demo-Produkt</title>"), std::string::npos);
    EXPECT_EQ(sfx_info.find("<params>"), std::string::npos);
}

TEST_F(ManifestBuild, PublishesARepositoryTheStubAccepts) {
    const result r = build(replaced(base_manifest, "[repository]\n", "[repository]\npinned = true\n"),
                           "--out out --publish repo");
    ASSERT_EQ(r.status, 0) << r.output;
    const result v = sh(repo_tool + " verify " + at("repo"));
    EXPECT_EQ(v.status, 0) << v.output;
    EXPECT_TRUE(exists(at("repo/defs/demo/release.xml.lzma")));
    EXPECT_TRUE(read_file(at("repo/defs/demo/2/1/0/7/release.xml.lzma")) ==
                read_file(at("repo/defs/demo/release.xml.lzma")))
        << "[repository] pinned publishes the document for /noupdate too";
    const std::string arm_sha = sh("sha256sum " + at("data/arm64.dat") + " | cut -c1-64").output.substr(0, 64);
    EXPECT_TRUE(exists(at("repo/universe/" + arm_sha.substr(0, 4) + "/" + arm_sha.substr(4, 4) + "/" +
                          arm_sha.substr(8, 4) + "/" + arm_sha + ".lzma")));
}

// Every mistake is one line naming the manifest, the line and the key, and
// nothing is written: no installer, no documents, no repository.
TEST_F(ManifestBuild, MistakesNameFileLineAndKeyAndWriteNothing) {
    struct mistake {
        std::string from, to, expected;
    };
    const std::vector<mistake> mistakes{
        {"source = \"data/setup.dat\"", "source = \"data/missing.dat\"",
         "demo.toml:24: setup-files[1].file[2].source: no such file"},
        {"[installer]\n", "[installer]\nsigning-key = \"k.pem\"\n", "demo.toml:14: installer.signing-key: unknown key"},
        {"<os platform=\"arm64\"/>", "<os-newer platform=\"arm64\"/>",
         "demo.toml:28: setup-files[2].conditions: Unable to parse element 'os-newer' as a condition!"},
        {"<os platform=\"arm64\"/>", "<os platform=\"arm64\">", "demo.toml:28: setup-files[2].conditions: not well-formed XML"},
        {"<os platform=\"arm64\"/>", "<equals/>",
         "demo.toml:28: setup-files[2].conditions: equals: The assertion failed for expression: m_left"},
        {"<os platform=\"arm64\"/>", "<or><!-- none yet --></or>", "demo.toml:28: setup-files[2].conditions: or holds no rule"},
        {"<os platform=\"arm64\"/>", "<os platform=\"arm64\"/> and", "demo.toml:28: setup-files[2].conditions: text 'and'"},
        {"name = \"setup.dat\"", "name = \"VELTRO.exe\"",
         "demo.toml:22: setup-files[1].file[2]: 'VELTRO.exe' is listed twice in this group (first as setup-files[1].file[1])"},
        {"de-de = ", "de-xx = ", "demo.toml:8: titles.de-xx: not a language the stub knows"},
        {"version = \"2.1.0.7\"\n", "", "demo.toml:1: product.version: missing"},
        {"payload = \"stored\"", "payload = \"zip\"", "demo.toml:25: setup-files[1].file[2].payload: must be"},
        {"executable = \"veltro.exe\"", "executable = \"setup.exe\"",
         "setup-commands: no setup file is named 'setup.exe'"},
        {"timestamp = 1700000000", "timestamp = \"now\"", "demo.toml:15: installer.timestamp: must be a whole number"},
        {"[titles]", "[titles", "demo.toml:6:"},
        {"<os platform=\"arm64\"/>", "<os platfrom=\"arm64\"/>",
         "demo.toml:28: setup-files[2].conditions: os: unknown attribute 'platfrom'"},
        {"base-url = \"https://downloads.example.test/demo\"", "",
         "demo.toml:33: setup-files[2].file[1].payload: \"none\" needs [repository] base-url"},
        // Values the stub would read otherwise than written, or never match.
        {"<os platform=\"arm64\"/>", "<os platform=\"amd64\"/>",
         "demo.toml:28: setup-files[2].conditions: os: platform=\"amd64\": not a platform the stub knows (x86, x64, "
         "arm64)"},
        {"<os platform=\"arm64\"/>", "<not-os-at-least major=\"ten\"/>",
         "setup-files[2].conditions: not-os-at-least: major=\"ten\": not a number"},
        {"<os platform=\"arm64\"/>", "<os build=\"99999999999\"/>", "os: build=\"99999999999\": out of range"},
        {"<os platform=\"arm64\"/>", "<file path=\"C:\\x\" exists=\"yes\"/>",
         "file: exists=\"yes\": must be true or false"},
        {"<os platform=\"arm64\"/>", "<less-than left=\"2.0.x\" right=\"%VELTRO_IS_SFX%\" type=\"Version\"/>",
         "less-than: left=\"2.0.x\": not a version"},
        {"<os platform=\"arm64\"/>", "<equals left=\"1.2\" right=\"1.10\" type=\"versoin\"/>",
         "equals: type=\"versoin\": not a type the stub knows"},
        {"<os platform=\"arm64\"/>", "<brand name=\"odrano\"/>", "brand: name=\"odrano\": not a brand a rule can name"},
        {"version = \"2.1.0.7\"", "version = \"2.1\"",
         "demo.toml:4: product.version: \"2.1\" is not four numbers of 0 to 65535 separated by dots"},
        // What only publishing refused once.
        {"name = \"demo\"", "name = \"Orchid Notes\"",
         "demo.toml:2: product.name: \"Orchid Notes\" holds ' ': the stub puts the name into the URL unescaped"},
        {"[repository]\n", "[repository]\nmodule = \"data/setup.dat\"\n", "data/setup.dat: is not a PE image"},
        {"[installer]\n", "[installer]\nkey = \"" QZR_SOURCE_DIR "/keys/dev/k6.pem\"\n",
         "veltro-pack: the signing key does not verify with key set 7"},
    };
    // build --check refuses exactly what build refuses.
    for (const auto& m : mistakes)
        for (const char* how : {"", " --check"}) {
            sh("rm -rf '" + at("out") + "' '" + at("repo") + "'");
            const result r =
                build(replaced(base_manifest, m.from, m.to), std::string("--out out --publish repo") + how);
            EXPECT_EQ(r.status, 3) << m.expected << how;
            EXPECT_NE(r.output.find(m.expected), std::string::npos)
                << "expected: " << m.expected << how << "\ngot: " << r.output;
            EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
            EXPECT_FALSE(exists(at("out"))) << m.expected;
            EXPECT_FALSE(exists(at("repo"))) << m.expected;
        }

    // A stub that is not a bare image: still nothing is written.
    write_file(at("stub.exe"), read_file(at("stub.exe")) + "trailing");
    for (const char* how : {"", " --check"}) {
        sh("rm -rf '" + at("out") + "' '" + at("repo") + "'");
        const result r = build(base_manifest, std::string("--out out --publish repo") + how);
        EXPECT_EQ(r.status, 3) << how;
        EXPECT_NE(r.output.find("bytes follow the last section"), std::string::npos) << r.output;
        EXPECT_FALSE(exists(at("out")));
        EXPECT_FALSE(exists(at("repo")));
    }
}
