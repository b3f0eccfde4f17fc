// The road of one untrusted drawing, as the batch run takes it, for the fuzzer
// and for the regression tests that replay what the fuzzer found: load, unpack
// the bound images, apply every option, save as 700 and as an older version,
// and load both outputs again; then the same conversion to 700 with the save
// running beside the load, which must give the same result and bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace morvane::fuzz {

struct PipelineResult {
    bool loaded = false;       // the input loaded
    bool saved = true;         // both saves succeeded (when loaded)
    bool reloaded = true;      // both outputs loaded again (when saved)
    bool streamedSame = true;  // the conversion with the save beside the load gave the same
    std::string failure;       // what went wrong, for a test message
};

// Runs the pipeline on `data` inside `workFolder` (an existing folder that the
// pipeline may fill and empties again; ends in a separator).
PipelineResult RunPipeline(const uint8_t* data, size_t size, const std::string& workFolder);

}  // namespace morvane::fuzz
