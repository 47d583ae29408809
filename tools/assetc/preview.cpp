#include <cstdio>

#include "assetc/assetc.h"

int RenderPreviews(const std::string&, const std::string&, const std::string&) {
    std::fprintf(stderr, "assetc: previews cannot be rendered yet\n");
    return 1;
}
