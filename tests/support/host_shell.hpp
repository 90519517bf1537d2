// What the host tests need to drive the tools: run a command and collect its
// output and status, read and write whole files.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace qzr::test {

struct result {
    int status;
    std::string output;  // stdout and stderr together
};

inline result sh(const std::string& command) {
    result r{};
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.output.append(buf, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_file(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

inline bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

}  // namespace qzr::test
