#pragma once
// Entry points of the asset compiler, one per data file. Each returns 0 on success and
// otherwise prints what is wrong (file and line) to standard error and returns non-zero.
#include <string>

int BuildGraphics(const std::string& sourceDir, const std::string& outFile);
int BuildFont(const std::string& sourceDir, const std::string& outFile);
int BuildSounds(const std::string& sourceDir, const std::string& outFile);
int BuildLevels(const std::string& sourceDir, const std::string& outFile);
int RenderPreviews(const std::string& graphicsFile, const std::string& levelFile,
                   const std::string& outDir);
// A square PNG of size pixels (a multiple of 16) of the program's icon.
int RenderIcon(const std::string& graphicsFile, int size, const std::string& outFile);
