#include "tool_cli.hpp"

#include <algorithm>
#include <iostream>

#include "cli_support.hpp"

namespace qzr::pack {

namespace {

const char* const exit_statuses =
    "Exit status:\n"
    "  0  success\n"
    "  1  a check found a problem (verify: no key verifies the file, a damaged tree)\n"
    "  2  the command line is wrong\n"
    "  3  an input could not be used (unreadable file, a manifest with mistakes,\n"
    "     bad key, damaged payload, refused publish)\n";

}  // namespace

tool::tool(const std::string& name, const std::string& description, const std::string& note)
    : app_(description, name) {
    app_.require_subcommand(1);
    app_.set_help_flag("-h,--help", "print this help and exit");
    app_.footer(note + "\n" + exit_statuses);
    app_.get_formatter()->column_width(34);
    // A single-valued option given twice takes the last value; subcommands
    // inherit this.
    app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

CLI::App& tool::command(const std::string& name, const std::string& description, std::function<int()> run) {
    CLI::App* command = app_.add_subcommand(name, description);
    runs_[command] = std::move(run);
    return *command;
}

int tool::main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << app_.help();
        return exit_usage;
    }
    // CLI11 would only say that a command is missing.
    const std::string first = argv[1];
    const auto named = [&first](const auto& run) { return run.first->get_name() == first; };
    if (first[0] != '-' && std::none_of(runs_.begin(), runs_.end(), named)) return usage("unknown command " + first);
    try {
        app_.parse(argc, argv);
        return runs_.at(app_.get_subcommands().front())();
    } catch (const CLI::Success& e) {  // --help
        return app_.exit(e);
    } catch (const CLI::ParseError& e) {
        return usage(e.what());
    } catch (const usage_error& e) {
        return usage(e.what());
    } catch (const std::exception& e) {
        std::cerr << app_.get_name() << ": " << e.what() << "\n";
        return exit_unusable;
    }
}

int tool::usage(const std::string& message) const {
    const auto chosen = app_.get_subcommands();
    const std::string who = app_.get_name() + (chosen.empty() ? "" : " " + chosen.front()->get_name());
    std::cerr << who << ": " << message << "\nRun '" << who << " --help' for its options.\n";
    return exit_usage;
}

CLI::Option* add_number(CLI::App& command, const std::string& name, std::function<void(std::uint64_t)> set,
                        const std::string& description) {
    return command
        .add_option_function<std::string>(
            name, [name, set](const std::string& text) { set(parse_number(text, name.c_str())); }, description)
        ->type_name("N");
}

}  // namespace qzr::pack
