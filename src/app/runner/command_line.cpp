#include "app/runner/command_line.h"

#include <charconv>
#include <cstring>
#include <system_error>

namespace runner {

std::string UsageText() {
    return "usage: kordavel [--root DIR] [--headless] [--ticks N] [--script FILE] [--bench]\n"
           "                [--help] [--version]\n"
           "  --root DIR     read data from DIR/data/ and settings from DIR/kordavel.ini\n"
           "                 (default: the program's own folder)\n"
           "  --headless     no window, sound device or joystick; timer ticks run back to back\n"
           "  --ticks N      run N ticks, at most 330,000,000 (default: up to the script's last\n"
           "                 tick)\n"
           "  --script FILE  commands, one a line: TICK key VK down|up, TICK joy STATE on|off,\n"
           "                 TICK menu NAME, TICK dump FILE.json, TICK screen PREFIX\n"
           "  --bench        print ticks=N seconds=S ticks_per_second=R as the last line\n"
           "exit codes: 0 ok, 1 start-up message or an output that could not be written (or\n"
           "was never reached), 2 bad arguments or script, 3 an error ended a game step\n";
}

std::filesystem::path ProgramFolder(const char* argv0) {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) exe = std::filesystem::absolute(argv0, ec);
    return exe.parent_path();
}

std::optional<CommandLine> ParseCommandLine(int argc, char** argv, std::string& error) {
    CommandLine options;
    options.root = ProgramFolder(argc > 0 ? argv[0] : "kordavel");
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        // A value is never the next option: "--root --headless" lacks its folder.
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc || argv[i + 1][0] == '\0' ||
                std::strncmp(argv[i + 1], "--", 2) == 0) {
                error = std::string(name) + " needs a value";
                return nullptr;
            }
            return argv[++i];
        };
        if (!std::strcmp(arg, "--root")) {
            const char* v = value("--root");
            if (!v) return std::nullopt;
            std::error_code ec;
            if (!std::filesystem::is_directory(v, ec)) {
                error = std::string("--root: there is no folder \"") + v + "\"";
                return std::nullopt;
            }
            options.root = v;
        } else if (!std::strcmp(arg, "--headless")) {
            options.headless = true;
        } else if (!std::strcmp(arg, "--ticks")) {
            const char* v = value("--ticks");
            if (!v) return std::nullopt;
            long n = 0;
            auto [end, ec] = std::from_chars(v, v + std::strlen(v), n);
            if (ec != std::errc() || *end != '\0' || n < 0 || n > kMaxTicks) {
                error = std::string("--ticks takes a count of ticks from 0 to ") +
                        std::to_string(kMaxTicks) + ", not \"" + v + "\"";
                return std::nullopt;
            }
            options.ticks = n;
        } else if (!std::strcmp(arg, "--script")) {
            const char* v = value("--script");
            if (!v) return std::nullopt;
            std::error_code ec;
            if (!std::filesystem::is_regular_file(v, ec)) {
                error = std::string("--script: \"") + v + "\" is not a file";
                return std::nullopt;
            }
            options.script = v;
        } else if (!std::strcmp(arg, "--bench")) {
            options.bench = true;
        } else if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            options.help = true;
        } else if (!std::strcmp(arg, "--version")) {
            options.version = true;
        } else {
            error = std::string("unknown argument \"") + arg + "\"";
            return std::nullopt;
        }
    }
    return options;
}

}  // namespace runner
