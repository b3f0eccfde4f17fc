// A deterministic generator of synthetic drawings, written with the project's
// own writer: any version, any mix of entities, Japanese texts, nested blocks
// and bound images. Used by the benchmarks and to make fuzzing seeds.
#pragma once

#include <cstdint>
#include <string>

#include "doc/JwwUnit.h"

namespace morvane::gen {

struct DrawingMix {
    int64_t lines = 0;
    int64_t arcs = 0;
    int64_t points = 0;
    int64_t texts = 0;
    int64_t dimensions = 0;
    int64_t solids = 0;
    int64_t blockDefs = 0;  // definitions, nested three deep
    int64_t inserts = 0;    // block inserts in all (top level and nested)
    int images = 0;         // bound images (version 700 only)
    int64_t imageBytes = 0; // size of each image before compression
    uint64_t seed = 1;

    // The large workload: about 200 MB as version 700.
    static DrawingMix Large();
    // `Large()` with every count divided by `divisor`.
    static DrawingMix LargeScaled(int divisor);
    // A drawing of about 60 KB.
    static DrawingMix Medium(uint64_t seed);
    // A few of everything.
    static DrawingMix Tiny(uint64_t seed);
};

// Fills `doc` (emptied first) with a drawing of `mix` whose header says
// `version`; bound images are written as gzip files into doc.BindImageFolder
// (which must exist) and referenced from texts. `unicode` selects UTF-16
// strings when the document is saved.
void Generate(TJwwData& doc, const DrawingMix& mix, int32_t version, bool unicode);

// Generates and saves a drawing of `version` at `path`. False when the save failed.
bool WriteDrawing(const std::u16string& path, const DrawingMix& mix, int32_t version, bool unicode,
                  const std::u16string& imageFolder);

}  // namespace morvane::gen
