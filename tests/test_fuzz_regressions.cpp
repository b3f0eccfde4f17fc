// Replays every input the fuzzer ever found a fault with, and the seed
// drawings: none may crash, and a drawing that loads must save and load again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/FuzzPipeline.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> Inputs() {
    std::vector<fs::path> files;
    for (const char* dir : {MORVANE_FUZZ_REGRESSIONS, MORVANE_SOURCE_DIR "/fuzz/seeds"}) {
        std::error_code ec;
        for (auto& e : fs::directory_iterator(dir, ec))
            if (e.is_regular_file()) files.push_back(e.path());
    }
    return files;
}

}  // namespace

TEST(FuzzRegressions, EveryFoundInputAndSeedSurvivesTheWholeRoad) {
    auto work = fs::temp_directory_path() / ("morvane-fuzzreg-" + std::to_string(::getpid()));
    fs::create_directories(work);
    auto files = Inputs();
    if (files.empty()) GTEST_SKIP() << "no fuzzing inputs in the tree";
    for (auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
        auto r = morvane::fuzz::RunPipeline(bytes.data(), bytes.size(), work.string() + "/");
        if (r.loaded) {
            EXPECT_TRUE(r.saved && r.reloaded) << path << ": " << r.failure;
        }
        EXPECT_TRUE(r.streamedSame) << path << ": " << r.failure;
    }
    fs::remove_all(work);
}
