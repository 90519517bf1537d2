// Signatures made with OpenSSL (and Python's cryptography) over our digest
// input, verified by our own DSA code.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

#include <unistd.h>

#include <openssl/bn.h>
#include <openssl/dsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include "../support/pe_image.hpp"
#include "../support/scribbling_source.hpp"
#include "framework/dsa.hpp"
#include "framework/hex.hpp"
#include "openssl_signer.hpp"
#include "signature_writer.hpp"
#include "veltro_sfx_lib/signature/dsa_keys.hpp"
#include "veltro_sfx_lib/signature/signature_block.hpp"

using namespace qzr;
using namespace qzr::sfx;

namespace {

std::string key_path(int k) { return std::string(QZR_SOURCE_DIR) + "/keys/dev/k" + std::to_string(k) + ".pem"; }

const pack::digest_signer& signer(int k) {
    static std::map<int, pack::digest_signer> cache;
    auto it = cache.find(k);
    if (it == cache.end()) it = cache.emplace(k, pack::openssl_signer(key_path(k))).first;
    return it->second;
}

std::vector<std::uint8_t> blob(std::size_t n, unsigned seed = 3) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}

// Every check runs twice: over the bytes in memory and read a window at a
// time, as files are; both must agree.
int verify(byte_view data, int set) {
    const int whole = verify_block(data, set);
    test::scribbling_source source(data);
    EXPECT_EQ(verify_block(source, set), whole) << "read in windows";
    return whole;
}
int verify(const std::vector<std::uint8_t>& data, int set = 7) { return verify(byte_view(data), set); }
int verify(const std::string& text, int set = 7) { return verify(byte_view(text.data(), text.size()), set); }

// A PE image with a payload-like tail, ready to be signed.
std::vector<std::uint8_t> image() {
    auto pe = test::make_pe({});
    const auto tail = blob(500);
    pe.insert(pe.end(), tail.begin(), tail.end());
    return pe;
}

std::size_t security_entry(const std::vector<std::uint8_t>& pe) { return 0x80 + 152; }

}  // namespace

TEST(Signature, BinaryBlocksOfEveryVersionAndKeySets) {
    for (int version : {2, 3}) {
        auto data = blob(1000);
        pack::append_binary_signature(data, version, signer(4), false);
        EXPECT_EQ(verify(data), 4) << version;
        EXPECT_EQ(verify(data, 0), 4);
        EXPECT_EQ(verify(data, 8), 4);

        auto other = blob(1000);
        pack::append_binary_signature(other, version, signer(6), false);
        EXPECT_EQ(verify(other), 0) << "K6 is not in the default set";
        EXPECT_EQ(verify(other, 1), 6);
        EXPECT_EQ(verify(other, 8), 6);

        auto tampered = data;
        tampered[10] ^= 1;
        EXPECT_EQ(verify(tampered), 0);
        auto bad_r = data;
        bad_r[1000] ^= 0x40;
        EXPECT_EQ(verify(bad_r), 0);
    }
    EXPECT_THROW(verify(blob(100), 6), exceptions::error);
}

TEST(Signature, ExecutableWithAuthenticodeTable) {
    // Version 2 covers the security entry as the final file has it, so the
    // entry is filled in before signing.
    auto pe = image();
    const std::size_t signed_length = pe.size();
    const std::size_t padded = (signed_length + 72 + 7) / 8 * 8;
    const std::vector<std::uint8_t> certificate(1200, 0x30);
    test::put32(pe, security_entry(pe), static_cast<std::uint32_t>(padded));
    test::put32(pe, security_entry(pe) + 4, static_cast<std::uint32_t>(certificate.size()));
    pack::append_binary_signature(pe, 2, signer(4), true);
    ASSERT_EQ(pe.size(), padded);
    pe.insert(pe.end(), certificate.begin(), certificate.end());
    EXPECT_EQ(verify(pe), 4);

    auto checksum = pe;
    test::put32(checksum, 0x80 + 88, 0x12345678);
    EXPECT_EQ(verify(checksum), 4) << "the CheckSum field is not covered";

    auto moved = pe;
    moved.insert(moved.begin() + static_cast<long>(padded), 8, 0);
    test::put32(moved, security_entry(moved), static_cast<std::uint32_t>(padded + 8));
    EXPECT_EQ(verify(moved), 0) << "version 2 covers the security entry";
}

TEST(Signature, VersionThreeSurvivesAuthenticodeSigningAfterwards) {
    auto pe = image();
    pack::append_binary_signature(pe, 3, signer(4), true);
    EXPECT_EQ(verify(pe), 4);
    const std::size_t table = pe.size();
    pe.insert(pe.end(), 900, 0x30);
    test::put32(pe, security_entry(pe), static_cast<std::uint32_t>(table));
    test::put32(pe, security_entry(pe) + 4, 900);
    test::put32(pe, 0x80 + 88, 0xCAFE);
    EXPECT_EQ(verify(pe), 4);
    // A table that claims more than the file holds is ignored: the search
    // starts at the file end and finds certificate bytes there.
    test::put32(pe, security_entry(pe) + 4, 100000);
    EXPECT_EQ(verify(pe), 0);
}

TEST(Signature, TrailingZerosBehindTheBlock) {
    auto pe = image();
    pack::append_binary_signature(pe, 3, signer(4), false);
    for (int zeros = 0; zeros <= 8; ++zeros) {
        auto padded = pe;
        padded.insert(padded.end(), static_cast<std::size_t>(zeros), 0);
        EXPECT_EQ(verify(padded), 4) << zeros;
    }
    auto too_many = pe;
    too_many.insert(too_many.end(), 9, 0);
    EXPECT_EQ(verify(too_many), 0);
    // Plain data gets no such allowance.
    auto data = blob(300);
    pack::append_binary_signature(data, 3, signer(4), false);
    data.push_back(0);
    EXPECT_EQ(verify(data), 0);
}

// Larger than a window: the digest spans many reads, and the fields left
// out of it may straddle two.
TEST(Signature, FilesLargerThanAWindow) {
    for (int version : {2, 3}) {
        auto data = blob(5 * byte_source::min_window + 123, 11);
        pack::append_binary_signature(data, version, signer(4), false);
        EXPECT_EQ(verify(data), 4) << version;
        data[3 * byte_source::min_window + 1] ^= 0x10;
        EXPECT_EQ(verify(data), 0) << version;

        auto pe = test::make_pe({});
        const auto tail = blob(4 * byte_source::min_window, 12);
        pe.insert(pe.end(), tail.begin(), tail.end());
        pack::append_binary_signature(pe, version, signer(5), true);
        const std::size_t table = pe.size();
        if (version == 3) {  // an Authenticode table behind the block
            pe.insert(pe.end(), 2000, 0x30);
            test::put32(pe, security_entry(pe), static_cast<std::uint32_t>(table));
            test::put32(pe, security_entry(pe) + 4, 2000);
        }
        EXPECT_EQ(verify(pe), 5) << version;
    }
    std::string document = "<?xml version=\"1.0\"?>\n<big>" + std::string(3 * byte_source::min_window, 'x') + "</big>\n";
    pack::append_text_signature(document, 3, signer(4));
    EXPECT_EQ(verify(document), 4);
}

TEST(Signature, XmlDocuments) {
    const std::string body = "<?xml version=\"1.0\"?>\n<sfx-info><title>T</title></sfx-info>\n";
    for (int version : {2, 3}) {
        for (std::string end : {"", "\n", "\r\n"}) {
            std::string doc = body;
            pack::append_text_signature(doc, version, signer(4), end);
            EXPECT_EQ(verify(doc), 4) << version << " [" << end.size() << "]";
        }
        std::string two = body;
        pack::append_text_signature(two, version, signer(4), "\n\n");
        EXPECT_EQ(verify(two), 0);
    }
    std::string doc = body;
    pack::append_text_signature(doc, 3, signer(4), "\n");
    const auto first = doc.find("QZRSig3A");
    std::string mixed = doc;
    mixed[first + 6] = '2';
    EXPECT_EQ(verify(mixed), 0) << "markers differ";
    std::string upper = doc;
    for (std::size_t i = first + 8; i < first + 136; ++i) upper[i] = static_cast<char>(std::toupper(upper[i]));
    EXPECT_EQ(verify(upper), 4) << "hex digits in either case";
    std::string bad_hex = doc;
    bad_hex[first + 20] = 'g';
    EXPECT_THROW(verify(bad_hex), std::invalid_argument);
    std::string edited = doc;
    edited[30] = 'X';
    EXPECT_EQ(verify(edited), 0);
}

TEST(Signature, UnsignedAndDegenerateInputs) {
    EXPECT_EQ(verify(std::vector<std::uint8_t>{}), 0);
    EXPECT_EQ(verify(std::string("QZRSig2B")), 0);
    EXPECT_EQ(verify(blob(5000)), 0);
    // r = 0 and s = q are out of range.
    auto data = blob(200);
    pack::append_binary_signature(data, 2, [](const auto&) { return pack::signature_pair{}; }, false);
    EXPECT_EQ(verify(data), 0);
    // "MZ" but too short for NT headers: signed and hashed as plain data.
    std::vector<std::uint8_t> mz = {'M', 'Z'};
    mz.resize(100, 0x11);
    pack::append_binary_signature(mz, 2, signer(4), false);
    EXPECT_FALSE(detect_pe(byte_view(mz)).is_pe);
    EXPECT_EQ(verify(mz), 4);
}

TEST(Signature, SignedByPythonCryptography) {
    if (std::system("/usr/bin/python3 -c 'import cryptography' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-cryptography is not installed";
    const auto data = blob(4000, 9);
    signature_location where;
    where.version = 3;
    where.signed_length = data.size();
    const auto digest = signed_digest(byte_view(data), where);
    ASSERT_TRUE(digest);
    const std::string script =
        "import sys\n"
        "from cryptography.hazmat.primitives import hashes, serialization\n"
        "from cryptography.hazmat.primitives.asymmetric import utils\n"
        "key = serialization.load_pem_private_key(open(sys.argv[1], 'rb').read(), None)\n"
        "der = key.sign(bytes.fromhex(sys.argv[2]), utils.Prehashed(hashes.SHA256()))\n"
        "r, s = utils.decode_dss_signature(der)\n"
        "print(r.to_bytes(32, 'big').hex() + s.to_bytes(32, 'big').hex())\n";
    const std::string command =
        "/usr/bin/python3 -c \"$(cat <<'EOF'\n" + script + "EOF\n)\" " + key_path(4) + " " + hex::encode(*digest);
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[200] = {};
    ASSERT_NE(fgets(line, sizeof line, p), nullptr);
    pclose(p);
    const auto rs = hex::decode(std::string(line, 128));
    ASSERT_TRUE(rs);
    auto signed_data = data;
    signed_data.insert(signed_data.end(), rs->begin(), rs->end());
    const std::string marker = "QZRSig3B";
    signed_data.insert(signed_data.end(), marker.begin(), marker.end());
    EXPECT_EQ(verify(signed_data), 4);
    signed_data[5] ^= 0x80;
    EXPECT_EQ(verify(signed_data), 0);
}

// OpenSSL's own DSA signing (random nonces), independent of the packer's.
TEST(Signature, SignedByOpenSslItself) {
    FILE* f = std::fopen(key_path(4).c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    ASSERT_NE(key, nullptr);
    const pack::digest_signer openssl = [key](const std::array<std::uint8_t, 32>& digest) {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
        EVP_PKEY_sign_init(ctx);
        unsigned char der[128];
        std::size_t length = sizeof der;
        EXPECT_EQ(EVP_PKEY_sign(ctx, der, &length, digest.data(), digest.size()), 1);
        EVP_PKEY_CTX_free(ctx);
        const unsigned char* p = der;
        DSA_SIG* sig = d2i_DSA_SIG(nullptr, &p, static_cast<long>(length));
        const BIGNUM *r, *s;
        DSA_SIG_get0(sig, &r, &s);
        pack::signature_pair out;
        BN_bn2binpad(r, out.first.data(), 32);
        BN_bn2binpad(s, out.second.data(), 32);
        DSA_SIG_free(sig);
        return out;
    };
    for (int round = 0; round < 5; ++round) {
        auto data = blob(777, static_cast<unsigned>(round));
        pack::append_binary_signature(data, round % 2 ? 2 : 3, openssl, false);
        EXPECT_EQ(verify(data), 4);
        std::string doc = "<a>" + std::to_string(round) + "</a>";
        pack::append_text_signature(doc, 3, openssl);
        EXPECT_EQ(verify(doc), 4);
    }
    EVP_PKEY_free(key);
}

// r and s count only inside (0, q). Values congruent to a valid one modulo q
// would pass the arithmetic, so the range check alone must refuse them.
TEST(Signature, SignatureValuesOutsideTheOpenRangeBelowQ) {
    using block32 = std::array<std::uint8_t, 32>;
    const auto& key = keys::key(4);
    block32 q{};
    key.domain->get()->q.to_bytes(q);
    const auto bn = [](const block32& b) { return BN_bin2bn(b.data(), 32, nullptr); };

    // A real signature whose s + q still fits in 32 bytes (s < 2^256 - q).
    std::vector<std::uint8_t> data;
    root::sha256::digest_type digest{};
    pack::signature_pair rs;
    block32 s_plus_q{};
    bool found = false;
    for (unsigned seed = 0; seed < 400 && !found; ++seed) {
        data = blob(300, 100 + seed);
        signature_location where;
        where.version = 3;
        where.signed_length = data.size();
        digest = *signed_digest(byte_view(data), where);
        rs = signer(4)(digest);
        BIGNUM* sum = bn(rs.second);
        BIGNUM* qn = bn(q);
        ASSERT_EQ(BN_add(sum, sum, qn), 1);
        if (BN_num_bytes(sum) <= 32) {
            ASSERT_EQ(BN_bn2binpad(sum, s_plus_q.data(), 32), 32);
            found = true;
        }
        BN_free(sum);
        BN_free(qn);
    }
    ASSERT_TRUE(found) << "no signature with s < 2^256 - q among the samples";
    const auto& [r, s] = rs;
    const block32 zero{};

    EXPECT_TRUE(root::dsa_verify(key, digest, r, s));
    EXPECT_FALSE(root::dsa_verify(key, digest, r, q)) << "s = q";
    EXPECT_FALSE(root::dsa_verify(key, digest, q, s)) << "r = q";
    EXPECT_FALSE(root::dsa_verify(key, digest, zero, s)) << "r = 0";
    EXPECT_FALSE(root::dsa_verify(key, digest, r, zero)) << "s = 0";
    EXPECT_FALSE(root::dsa_verify(key, digest, r, s_plus_q)) << "s + q";

    // The same through a whole signed block.
    const std::string marker = "QZRSig3B";
    const auto signed_with = [&](const block32& r_value, const block32& s_value) {
        auto block = data;
        block.insert(block.end(), r_value.begin(), r_value.end());
        block.insert(block.end(), s_value.begin(), s_value.end());
        block.insert(block.end(), marker.begin(), marker.end());
        return verify(block);
    };
    EXPECT_EQ(signed_with(r, s), 4);
    EXPECT_EQ(signed_with(r, s_plus_q), 0);
}
