// The host tools' command lines on CLI11: a tool is a set of subcommands,
// with the exit statuses every host tool shares and one way of reporting
// a mistake in the command line.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace qzr::pack {

// The exit status of every host tool, listed at the end of each --help.
enum exit_status : int {
    exit_success = 0,
    exit_check_failed = 1,  // a check ran and found a problem
    exit_usage = 2,         // the command line is wrong
    exit_unusable = 3,      // an input could not be used, or the tool refused it
};

class tool {
public:
    // note ends every --help, before the exit statuses.
    tool(const std::string& name, const std::string& description, const std::string& note);

    // A subcommand; run does its work once the whole command line has been
    // read, and gives the exit status.
    CLI::App& command(const std::string& name, const std::string& description, std::function<int()> run);

    // Reads the command line and runs the chosen subcommand. A usage error
    // (CLI11's or a usage_error) exits 2 after one line naming the mistake
    // and a hint; any other exception exits 3 after its message.
    int main(int argc, char** argv);

private:
    int usage(const std::string& message) const;

    CLI::App app_;
    std::map<const CLI::App*, std::function<int()>> runs_;
};

// An option taking a whole decimal number (CLI11's own number options read
// hex and octal too). set may refuse a value by throwing a usage_error.
CLI::Option* add_number(CLI::App& command, const std::string& name, std::function<void(std::uint64_t)> set,
                        const std::string& description);

}  // namespace qzr::pack
