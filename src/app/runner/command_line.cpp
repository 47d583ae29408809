#include "app/runner/command_line.h"

#include <charconv>
#include <cstring>
#include <system_error>

namespace runner {

std::string UsageText() {
    return "usage: kordavel [--root DIR] [--headless] [--ticks N] [--script FILE] [--bench]\n"
           "                [--record FILE | --replay FILE [--verify]] [--help] [--version]\n"
           "  --root DIR     read data from DIR/data/ and settings from DIR/kordavel.ini\n"
           "                 (default: the program's own folder)\n"
           "  --headless     no window, sound device or joystick; timer ticks run back to back\n"
           "  --ticks N      run N ticks (default: up to the script's last tick)\n"
           "  --script FILE  commands, one a line: TICK key VK down|up, TICK joy STATE on|off,\n"
           "                 TICK menu NAME, TICK dump FILE.json, TICK screen PREFIX\n"
           "  --bench        print ticks=N seconds=S ticks_per_second=R as the last line\n"
           "  --record FILE  write a replay of everything the run's game read from its input\n"
           "  --replay FILE  play a replay; a script may then hold only dump and screen lines\n"
           "  --verify       with --replay: play it headless as fast as possible and print\n"
           "                 ticks=N hash=H, the tick count and a hash of the final state\n"
           "  --host PORT    host a network game on PORT (or ADDRESS:PORT to listen on one\n"
           "                 address only); --mode two|duel and --stage N choose the game\n"
           "  --join HOST:PORT  join the network game hosted there, as player 2\n"
           "  --realtime     headless network game at the window's pace of one tick per 13 ms\n"
           "exit codes: 0 ok, 1 start-up message or unwritable output, 2 bad arguments or\n"
           "script, 3 an error ended a game step, 4 a replay that cannot be played here,\n"
           "5 a network game that could not start or ended badly\n";
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
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                error = std::string(name) + " needs a value";
                return nullptr;
            }
            return argv[++i];
        };
        if (!std::strcmp(arg, "--root")) {
            const char* v = value("--root");
            if (!v) return std::nullopt;
            options.root = v;
        } else if (!std::strcmp(arg, "--headless")) {
            options.headless = true;
        } else if (!std::strcmp(arg, "--ticks")) {
            const char* v = value("--ticks");
            if (!v) return std::nullopt;
            long n = 0;
            auto [end, ec] = std::from_chars(v, v + std::strlen(v), n);
            if (ec != std::errc() || *end != '\0' || n < 0) {
                error = std::string("--ticks takes a count of ticks, not \"") + v + "\"";
                return std::nullopt;
            }
            options.ticks = n;
        } else if (!std::strcmp(arg, "--script")) {
            const char* v = value("--script");
            if (!v) return std::nullopt;
            options.script = v;
        } else if (!std::strcmp(arg, "--record")) {
            const char* v = value("--record");
            if (!v) return std::nullopt;
            options.record = v;
        } else if (!std::strcmp(arg, "--replay")) {
            const char* v = value("--replay");
            if (!v) return std::nullopt;
            options.replay = v;
        } else if (!std::strcmp(arg, "--verify")) {
            options.verify = true;
        } else if (!std::strcmp(arg, "--host") || !std::strcmp(arg, "--join")) {
            const char* v = value(arg);
            if (!v) return std::nullopt;
            (arg[2] == 'h' ? options.host : options.join) = v;
        } else if (!std::strcmp(arg, "--mode")) {
            const char* v = value("--mode");
            if (!v) return std::nullopt;
            if (!std::strcmp(v, "two"))
                options.netMode = 2;
            else if (!std::strcmp(v, "duel"))
                options.netMode = 3;
            else {
                error = std::string("--mode takes \"two\" or \"duel\", not \"") + v + "\"";
                return std::nullopt;
            }
        } else if (!std::strcmp(arg, "--stage")) {
            const char* v = value("--stage");
            if (!v) return std::nullopt;
            long n = 0;
            auto [end, ec] = std::from_chars(v, v + std::strlen(v), n);
            if (ec != std::errc() || *end != '\0' || n < 1 || n > 9999) {
                error = std::string("--stage takes a stage number, not \"") + v + "\"";
                return std::nullopt;
            }
            options.stage = n;
        } else if (!std::strcmp(arg, "--realtime")) {
            options.realtime = true;
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
    if (!options.record.empty() && !options.replay.empty()) {
        error = "--record and --replay cannot be used together";
        return std::nullopt;
    }
    if (!options.host.empty() && !options.join.empty()) {
        error = "--host and --join cannot be used together";
        return std::nullopt;
    }
    if ((!options.host.empty() || !options.join.empty()) && !options.replay.empty()) {
        error = "a network game cannot play a replay";
        return std::nullopt;
    }
    if (options.verify) {
        if (options.replay.empty()) {
            error = "--verify needs --replay FILE";
            return std::nullopt;
        }
        options.headless = true;
    }
    return options;
}

}  // namespace runner
