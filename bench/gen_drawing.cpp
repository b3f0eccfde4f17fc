// gen_drawing: writes synthetic drawings for the benchmarks and the fuzzing seeds.
//   gen_drawing OUT.jww MIX [--version V] [--unicode] [--seed N]
// MIX: L (about 200 MB), S10, S100 (L divided by 10 or 100), M (about 60 KB), tiny.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/DrawingGen.h"
#include "support/Func_2.h"

using namespace morvane;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: gen_drawing OUT.jww L|S10|S100|M|tiny [--version V] [--unicode] [--seed N]\n");
        return 2;
    }
    std::string out = argv[1], mixName = argv[2];
    int version = 700;
    bool unicode = false;
    uint64_t seed = 1;
    for (int i = 3; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--version") && i + 1 < argc) version = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--unicode")) unicode = true;
        else if (!std::strcmp(argv[i], "--seed") && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 10);
    }
    gen::DrawingMix mix;
    if (mixName == "L") mix = gen::DrawingMix::Large();
    else if (mixName == "S10") mix = gen::DrawingMix::LargeScaled(10);
    else if (mixName == "S100") mix = gen::DrawingMix::LargeScaled(100);
    else if (mixName == "M") mix = gen::DrawingMix::Medium(seed);
    else if (mixName == "tiny") mix = gen::DrawingMix::Tiny(seed);
    else {
        std::fprintf(stderr, "gen_drawing: unknown mix %s\n", mixName.c_str());
        return 2;
    }
    if (mixName != "M" && mixName != "tiny") mix.seed = seed;
    auto images = std::filesystem::temp_directory_path() / ("morvane-gen-" + std::to_string(::getpid()));
    std::filesystem::create_directories(images);
    bool ok = gen::WriteDrawing(Utf8ToStr(out), mix, version, unicode, Utf8ToStr(images.string() + "/"));
    std::error_code ec;
    std::filesystem::remove_all(images, ec);
    if (!ok) std::fprintf(stderr, "gen_drawing: could not write %s\n", out.c_str());
    return ok ? 0 : 1;
}
