// libFuzzer target: any bytes as a drawing through the whole road of the batch
// run. A drawing that loads must save and load again.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz/FuzzPipeline.h"

namespace {
std::filesystem::path& WorkPath() {
    static std::filesystem::path path;
    return path;
}

// A folder of this process for the image files, removed when it exits (a
// timed run ends with exit(); after a crash it stays).
std::string WorkFolder() {
    static const std::string folder = [] {
        WorkPath() = std::filesystem::temp_directory_path() / ("morvane-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(WorkPath());
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(WorkPath(), ec);
        });
        return WorkPath().string() + "/";
    }();
    return folder;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto result = morvane::fuzz::RunPipeline(data, size, WorkFolder());
    if ((result.loaded && (!result.saved || !result.reloaded)) || !result.streamedSame) {
        std::fprintf(stderr, "a drawing that loaded did not survive: %s\n", result.failure.c_str());
        std::abort();
    }
    return 0;
}
