#include "app/runner/command_line.h"

#include <charconv>
#include <cstring>
#include <system_error>

namespace runner {

std::string UsageText() {
    return "usage: kordavel [--root DIR] [--headless] [--ticks N] [--script FILE] [--bench]\n"
           "                [--record FILE | --replay FILE [--verify]] [--frame-stats]\n"
           "                [--stats] [--stage-curve [--stages LIST] [--seeds N]] [--paths]\n"
           "                [--host [ADDRESS:]PORT [--mode two|duel] [--stage N] | --join "
           "HOST:PORT\n"
           "                [--code CODE] | --watch HOST:PORT [--code CODE]] [--open-router]\n"
           "                [--find] [--realtime] [--help]\n"
           "                [--version]\n"
           "  --root DIR     read data from DIR/data/ and settings from DIR/kordavel.ini\n"
           "                 (default: beside the program when its folder is writable and\n"
           "                 holds data/, else the install prefix and the XDG folders)\n"
           "  --paths        print where every file is read and written, and exit\n"
           "  --headless     no window, sound device or joystick; timer ticks run back to back\n"
           "  --ticks N      run N ticks, at most 330,000,000 (default: up to the script's last\n"
           "                 tick)\n"
           "  --script FILE  commands, one a line: TICK key VK down|up, TICK joy STATE on|off,\n"
           "                 TICK menu NAME, TICK dump FILE.json, TICK screen PREFIX,\n"
           "                 TICK select STAGE 0|1|2 (Ok on the level dialog),\n"
           "                 TICK option SECTION/KEY VALUE, TICK option ok|cancel|defaults,\n"
           "                 TICK forms FILE.json (window only: every form's components)\n"
           "  --bench        print ticks=N seconds=S ticks_per_second=R as the last line\n"
           "  --record FILE  write a replay of everything the run's game read from its input\n"
           "  --replay FILE  play a replay; a script may then hold only dump and screen lines\n"
           "  --verify       with --replay: play it headless as fast as possible and print\n"
           "                 ticks=N hash=H, the tick count and a hash of the final state\n"
           "  --frame-stats  window: print the tick interval's median, 99th percentile,\n"
           "                 maximum and the number of late ticks at exit\n"
           "  --stats        print what happened in the run: ticks in the demonstration,\n"
           "                 demonstrations, tanks destroyed, shots, shots stopped within\n"
           "                 8 pixels, games lost to a bullet in the base\n"
           "  --stage-curve  play the stages of --stages (ranges such as 1-5,30-35; default\n"
           "                 all) in a one-player game, --seeds N times (default 4) with the\n"
           "                 autopilot driving player 1 and N times with nobody playing, and\n"
           "                 print per stage and per range the kills, lives lost and how long\n"
           "                 the base stood; no window is opened\n"
           "  --host PORT    host a network game on PORT (or ADDRESS:PORT to listen on one\n"
           "                 address only); --mode two|duel and --stage N choose the game;\n"
           "                 prints the game's invite code as code=CODE on a line of its own\n"
           "  --open-router  with --host: ask the router (UPnP, NAT-PMP) to forward the port\n"
           "  --join HOST:PORT  join the network game hosted there, as player 2 (or\n"
           "                 \"HOST:PORT CODE\", or a line the host showed)\n"
           "  --watch HOST:PORT  watch the network game hosted there to its end, without\n"
           "                 playing (or \"HOST:PORT CODE\"); --record FILE keeps what was\n"
           "                 watched, --ticks N stops after the game's tick N, and --realtime\n"
           "                 plays a second behind the players, as the window does\n"
           "  --code CODE    the host's invite code, needed from outside the host's network\n"
           "  --find         print the games hosted on the local network heard within a\n"
           "                 second, one a line beginning with the ADDRESS:PORT to join\n"
           "  --realtime     headless network game at the window's pace of one tick per 13 ms\n"
           "exit codes: 0 ok, 1 start-up message or an output that could not be written (or\n"
           "was never reached), 2 bad arguments or script, 3 an error ended a game step,\n"
           "4 a replay that cannot be played here,\n"
           "5 a network game that could not start or ended badly\n";
}

namespace {

// Ranges "A-B" or single stages "N", separated by commas, stages 1..255.
bool ParseStages(const char* text, CommandLine& options) {
    std::vector<std::pair<int, int>> ranges;
    const char* end = text + std::strlen(text);
    const char* p = text;
    while (true) {
        int first = 0, last = 0;
        auto [after, ec] = std::from_chars(p, end, first);
        if (ec != std::errc()) return false;
        last = first;
        if (after != end && *after == '-') {
            auto [stop, ec2] = std::from_chars(after + 1, end, last);
            if (ec2 != std::errc()) return false;
            after = stop;
        }
        if (first < 1 || last > 255 || first > last) return false;
        ranges.push_back({first, last});
        if (after == end) break;
        if (*after != ',') return false;
        p = after + 1;
    }
    options.stageRanges = ranges;
    return true;
}

}  // namespace

std::filesystem::path ProgramFolder(const char* argv0) {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) exe = std::filesystem::absolute(argv0, ec);
    return exe.parent_path();
}

std::optional<CommandLine> ParseCommandLine(int argc, char** argv, std::string& error) {
    CommandLine options;
    const char* hostOnly = nullptr;  // --mode or --stage, which choose the hosted game
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
        } else if (!std::strcmp(arg, "--watch")) {
            const char* v = value(arg);
            if (!v) return std::nullopt;
            options.watch = v;
        } else if (!std::strcmp(arg, "--mode")) {
            hostOnly = "--mode";
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
            hostOnly = "--stage";
            const char* v = value("--stage");
            if (!v) return std::nullopt;
            long n = 0;
            auto [end, ec] = std::from_chars(v, v + std::strlen(v), n);
            if (ec != std::errc() || *end != '\0' || n < 1 || n > 9999) {
                error = std::string("--stage takes a stage number, not \"") + v + "\"";
                return std::nullopt;
            }
            options.stage = n;
        } else if (!std::strcmp(arg, "--code")) {
            const char* v = value("--code");
            if (!v) return std::nullopt;
            options.code = v;
        } else if (!std::strcmp(arg, "--open-router")) {
            hostOnly = "--open-router";
            options.openRouter = true;
        } else if (!std::strcmp(arg, "--find")) {
            options.find = true;
        } else if (!std::strcmp(arg, "--realtime")) {
            options.realtime = true;
        } else if (!std::strcmp(arg, "--bench")) {
            options.bench = true;
        } else if (!std::strcmp(arg, "--frame-stats")) {
            options.frameStats = true;
        } else if (!std::strcmp(arg, "--stats")) {
            options.stats = true;
        } else if (!std::strcmp(arg, "--stage-curve")) {
            options.stageCurve = true;
        } else if (!std::strcmp(arg, "--stages")) {
            const char* v = value("--stages");
            if (!v) return std::nullopt;
            if (!ParseStages(v, options)) {
                error = std::string(
                            "--stages takes ranges such as 1-5,30-35 of stages 1..255, not \"") +
                        v + "\"";
                return std::nullopt;
            }
        } else if (!std::strcmp(arg, "--seeds")) {
            const char* v = value("--seeds");
            if (!v) return std::nullopt;
            const char* end = v + std::strlen(v);
            auto [stop, ec] = std::from_chars(v, end, options.seeds);
            if (ec != std::errc() || stop != end || options.seeds < 1 || options.seeds > 64) {
                error = std::string("--seeds takes a count 1..64, not \"") + v + "\"";
                return std::nullopt;
            }
        } else if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            options.help = true;
        } else if (!std::strcmp(arg, "--version")) {
            options.version = true;
        } else if (!std::strcmp(arg, "--paths")) {
            options.paths = true;
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
    // The joiner plays the host's game; without a network game they would be quietly lost.
    if (hostOnly && options.host.empty()) {
        error = std::string(hostOnly) + " chooses the game a --host plays; it needs --host";
        return std::nullopt;
    }
    if (!options.watch.empty() && (!options.host.empty() || !options.join.empty())) {
        error = "--watch only watches a game; it cannot host or join one";
        return std::nullopt;
    }
    if (!options.watch.empty() && !options.replay.empty()) {
        error = "--watch cannot play a replay";
        return std::nullopt;
    }
    if (!options.code.empty() && options.join.empty() && options.watch.empty()) {
        error = "--code goes with --join or --watch";
        return std::nullopt;
    }
    if (options.find && (!options.host.empty() || !options.join.empty() || !options.watch.empty())) {
        error = "--find only looks for games; it cannot host or join one";
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
    if (options.headless && options.frameStats) {
        error = "--frame-stats measures the window's frame timer; there is none with --headless";
        return std::nullopt;
    }
    return options;
}

}  // namespace runner
