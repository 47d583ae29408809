#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "assetc/assetc.h"

int main(int argc, char** argv) {
    if (argc == 4 && !std::strcmp(argv[1], "graphics")) return BuildGraphics(argv[2], argv[3]);
    if (argc == 4 && !std::strcmp(argv[1], "font")) return BuildFont(argv[2], argv[3]);
    if (argc == 4 && !std::strcmp(argv[1], "sounds")) return BuildSounds(argv[2], argv[3]);
    if (argc == 4 && !std::strcmp(argv[1], "levels")) return BuildLevels(argv[2], argv[3]);
    if (argc == 5 && !std::strcmp(argv[1], "preview"))
        return RenderPreviews(argv[2], argv[3], argv[4]);
    if (argc == 5 && !std::strcmp(argv[1], "icon")) {
        char* end = nullptr;
        const long size = std::strtol(argv[3], &end, 10);
        if (*end == '\0' && size > 0 && size <= 4096)
            return RenderIcon(argv[2], int(size), argv[4]);
    }
    std::fprintf(stderr,
                 "usage: assetc graphics|font|sounds|levels SOURCE_DIR OUT_FILE\n"
                 "       assetc preview TANK_GRP LSWAP_DAT OUT_DIR\n"
                 "       assetc icon TANK_GRP SIZE OUT_PNG\n");
    return 2;
}
