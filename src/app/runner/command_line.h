#pragma once
#include <filesystem>
#include <optional>
#include <string>

namespace runner {

// The millisecond clock is 32-bit: 2^32 ms last 330,382,099 ticks of 13 ms.
constexpr long kMaxTicks = 330'000'000;

struct CommandLine {
    std::filesystem::path root;  // data/ and kordavel.ini are found here
    bool headless = false;
    std::optional<long> ticks;
    std::string script;
    bool bench = false;
    bool help = false;
    bool version = false;
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

}  // namespace runner
