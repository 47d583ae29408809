// Writes the short sound bank seed: make_fuzz_seed SHIPPED_BANK OUT.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "fuzz/short_bank.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_fuzz_seed BANK OUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> bank{std::istreambuf_iterator<char>(in), {}};
    const std::vector<uint8_t> seed = fuzz::ShortBank(bank);
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(seed.data()), std::streamsize(seed.size()));
    if (!in.is_open() || bank.empty() || !out) {
        std::fprintf(stderr, "make_fuzz_seed: cannot turn %s into %s\n", argv[1], argv[2]);
        return 1;
    }
    return 0;
}
