// Speed of the digest, signature and LZMA paths against references measured
// in the same run (OpenSSL; liblzma as the xz tool uses it). scripts/bench
// turns the timings into the ratios the targets are stated in.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/lzma_codec.hpp"
#include "framework/sha256.hpp"
#include "openssl_signer.hpp"
#include "payload_writer.hpp"
#include "signature_writer.hpp"
#include "framework/dsa.hpp"
#include "veltro_sfx_lib/signature/dsa_keys.hpp"
#include "veltro_sfx_lib/signature/signature_block.hpp"
#include <functional>

using namespace qzr;

namespace {

const std::string keys_dir = QZR_SOURCE_DIR "/keys/dev";
const std::string scratch = "/tmp/qzr-bench";

std::vector<std::uint8_t> random_data(std::size_t n, bool compressible) {
    std::mt19937_64 rng(99);
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; i += 8) {
        std::uint64_t x = rng();
        if (compressible) x &= 0x0F0F0F0F0F0F0F0FULL;  // about 2:1, like setup binaries
        for (std::size_t j = 0; j < 8 && i + j < n; ++j) v[i + j] = static_cast<std::uint8_t>(x >> (8 * j));
    }
    return v;
}

const std::vector<std::uint8_t>& data_64m() {
    static const auto d = random_data(64u << 20, false);
    return d;
}

void BM_sha256_ours(benchmark::State& state) {
    const auto& d = data_64m();
    for (auto _ : state) benchmark::DoNotOptimize(root::sha256::of(d));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * d.size()));
}

void BM_sha256_openssl(benchmark::State& state) {
    const auto& d = data_64m();
    unsigned char out[32];
    for (auto _ : state) {
        unsigned int n = 0;
        EVP_Digest(d.data(), d.size(), out, &n, EVP_sha256(), nullptr);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * d.size()));
}

struct signed_sample {
    std::vector<std::uint8_t> data;
    std::array<std::uint8_t, 32> digest{};
    std::vector<unsigned char> der;
    EVP_PKEY* key = nullptr;
};

const signed_sample& sample() {
    static const signed_sample s = [] {
        signed_sample out;
        out.data = random_data(4096, false);
        pack::append_binary_signature(out.data, 3, pack::openssl_signer(keys_dir + "/k4.pem"), false);
        const auto where = sfx::locate_signature(byte_view(out.data));
        out.digest = *sfx::signed_digest(byte_view(out.data), *where);
        FILE* f = std::fopen((keys_dir + "/k4.pem").c_str(), "rb");
        out.key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
        std::fclose(f);
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(out.key, nullptr);
        EVP_PKEY_sign_init(ctx);
        std::size_t len = 0;
        EVP_PKEY_sign(ctx, nullptr, &len, out.digest.data(), 32);
        out.der.resize(len);
        EVP_PKEY_sign(ctx, out.der.data(), &len, out.digest.data(), 32);
        out.der.resize(len);
        EVP_PKEY_CTX_free(ctx);
        return out;
    }();
    return s;
}

// Only the DSA arithmetic, over an already computed digest, on both sides.
void BM_dsa_verify_ours(benchmark::State& state) {
    const auto& s = sample();
    const auto where = sfx::locate_signature(byte_view(s.data));
    for (auto _ : state)
        if (!root::dsa_verify(sfx::keys::key(4), s.digest, where->r, where->s)) state.SkipWithError("not verified");
}

// What the first check with a key costs on top: the comb tables of the
// domain's generator and of the key, built once per process.
void BM_dsa_first_use_tables(benchmark::State& state) {
    const auto* d = sfx::keys::key(4).domain->get();
    root::bignum y;
    root::bignum::from_bytes(sfx::keys::key(4).y, y, d->mp.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(d->mp.make_comb(d->g_form));
        benchmark::DoNotOptimize(d->mp.make_comb(d->mp.to_form(y)));
    }
}

void BM_dsa_verify_openssl(benchmark::State& state) {
    const auto& s = sample();
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(s.key, nullptr);
    EVP_PKEY_verify_init(ctx);
    for (auto _ : state)
        if (EVP_PKEY_verify(ctx, s.der.data(), s.der.size(), s.digest.data(), 32) != 1)
            state.SkipWithError("not verified");
    EVP_PKEY_CTX_free(ctx);
}

// A posix file as decoding target, pre-sized like the Win32 one.
struct posix_file : packers::stream_writter_intf {
    int fd;
    explicit posix_file(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644)) {}
    ~posix_file() override { ::close(fd); }
    void write(const std::uint8_t* d, std::size_t n) override {
        while (n) {
            const ssize_t w = ::write(fd, d, n);
            if (w <= 0) throw std::runtime_error("write failed");
            d += w;
            n -= static_cast<std::size_t>(w);
        }
    }
    void set_size(std::uint64_t n) override {
        if (::ftruncate(fd, static_cast<off_t>(n)) != 0) throw std::runtime_error("ftruncate failed");
    }
};

const std::vector<std::uint8_t>& lzma_100m() {
    static const auto packed = [] {
        const auto plain = random_data(100u << 20, true);
        auto p = packers::lzma_encode(plain, 1);
        std::FILE* f = std::fopen((scratch + "/entry.lzma").c_str(), "wb");
        std::fwrite(p.data(), 1, p.size(), f);
        std::fclose(f);
        return p;
    }();
    return packed;
}

void BM_lzma_unpack_to_file_ours(benchmark::State& state) {
    const auto& packed = lzma_100m();
    for (auto _ : state) {
        posix_file out(scratch + "/ours.out");
        packers::lzma_decode(byte_view(packed), &out, nullptr);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (100u << 20)));
}

void BM_lzma_unpack_to_file_xz_tool(benchmark::State& state) {
    lzma_100m();
    const std::string command = "xz --format=lzma -dc " + scratch + "/entry.lzma > " + scratch + "/xz.out";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("xz failed");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (100u << 20)));
}

// Verifying a 200 MiB signed file: one mapping, one pass over its bytes.
const std::string& signed_200m() {
    static const std::string path = [] {
        auto data = random_data(200u << 20, false);
        pack::append_binary_signature(data, 3, pack::openssl_signer(keys_dir + "/k4.pem"), true);
        const std::string p = scratch + "/signed200.bin";
        std::FILE* f = std::fopen(p.c_str(), "wb");
        std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
        return p;
    }();
    return path;
}

void with_mapped(const std::string& path, const std::function<void(byte_view)>& use) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    struct stat st {};
    fstat(fd, &st);
    void* base = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    use(byte_view(base, static_cast<std::size_t>(st.st_size)));
    munmap(base, static_cast<std::size_t>(st.st_size));
    ::close(fd);
}

void BM_verify_200m_file(benchmark::State& state) {
    const auto& path = signed_200m();
    for (auto _ : state)
        with_mapped(path, [&](byte_view v) {
            if (sfx::verify_block(v, 7) != 4) state.SkipWithError("not verified");
        });
}

void BM_sha256_200m_file(benchmark::State& state) {
    const auto& path = signed_200m();
    for (auto _ : state) with_mapped(path, [](byte_view v) { benchmark::DoNotOptimize(root::sha256::of(v.span(0, v.size()))); });
}

}  // namespace

BENCHMARK(BM_sha256_ours)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_sha256_openssl)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_dsa_verify_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_dsa_verify_openssl)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_dsa_first_use_tables)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_lzma_unpack_to_file_ours)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_lzma_unpack_to_file_xz_tool)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_sha256_200m_file)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_verify_200m_file)->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char** argv) {
    std::system(("mkdir -p " + scratch).c_str());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::system(("rm -rf " + scratch).c_str());
    return 0;
}
