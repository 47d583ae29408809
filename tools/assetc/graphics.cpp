#include <cstdio>

#include "assetc/assetc.h"

int BuildGraphics(const std::string&, const std::string& outFile) {
    std::fprintf(stderr, "assetc: %s cannot be built yet\n", outFile.c_str());
    return 1;
}
