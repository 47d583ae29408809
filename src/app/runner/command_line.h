#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace runner {

// The millisecond clock is 32-bit: 2^32 ms last 330,382,099 ticks of 13 ms.
constexpr long kMaxTicks = 330'000'000;

struct CommandLine {
    std::filesystem::path root;  // --root DIR, or empty: see app/paths.h
    bool headless = false;
    std::optional<long> ticks;
    std::string script;
    std::string record;   // write a replay of the run here
    std::string replay;   // play this replay instead of taking input
    bool verify = false;  // with --replay: headless, flat out, print the final state's hash
    bool bench = false;
    bool frameStats = false;
    bool stats = false;
    bool stageCurve = false;
    std::vector<std::pair<int, int>> stageRanges;  // empty: every stage of the level file
    int seeds = 4;
    // Network game: host on a port ("PORT" or "ADDRESS:PORT") or join "HOST:PORT".
    std::string host;
    std::string join;
    std::string watch;        // watch the network game hosted at "HOST:PORT"
    int netMode = 2;          // host: 2 two players, 3 duel
    long stage = 1;           // host: the starting stage
    bool realtime = false;    // headless network game: one tick per 13 ms, as in the window
    std::string code;         // join: the host's invite code
    bool openRouter = false;  // headless host: ask the router to forward the port
    bool find = false;        // print the games heard on the local network, and exit
    bool help = false;
    bool version = false;
    bool paths = false;  // print where every file is read and written
};

// Returns nullopt with error set when the arguments make no sense.
std::optional<CommandLine> ParseCommandLine(int argc, char** argv, std::string& error);
std::string UsageText();
// The folder of the running executable.
std::filesystem::path ProgramFolder(const char* argv0);

// Exit codes of the program.
constexpr int kExitOk = 0;
constexpr int kExitStartup = 1;    // a start-up message, or output that could not be written
constexpr int kExitUsage = 2;      // bad arguments or a script line that cannot be parsed
constexpr int kExitGameError = 3;  // an error ended a game step
constexpr int kExitReplay = 4;     // the replay cannot be read, or not played with this game
constexpr int kExitNetwork = 5;    // a network game could not start, or ended badly

}  // namespace runner
