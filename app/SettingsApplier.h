// The settings applier: writes the ticked options of a settings set into a
// loaded drawing's header and pen table.
#pragma once

#include <cstdint>
#include <string>

#include "app/BatchSettings.h"
#include "doc/JwwUnit.h"

namespace morvane {

// Applies `s` to `doc` in a fixed order (memo, paper size, line-width unit,
// point radii, pen widths, drawing order, text background, colours). Both
// boxes of a pair checked (a state only a hand-edited settings file or a
// caller can make) is resolved by the applier's own precedence, and the
// losing boxes are cleared in `s`, so the normalised set is what the next
// file sees and what the next settings file save stores.
// Precondition: `doc` holds a loaded drawing (ten pen table entries); with
// fewer entries the pen table steps are skipped.
void RunProc2(BatchSettings& s, TJwwData& doc);

// The clearing of losing boxes that RunProc2 performs, without a drawing:
// afterwards RunProc2 leaves `s` unchanged. Lets workers that convert files
// side by side start from the set one worker would reach after its first file.
void NormaliseSettings(BatchSettings& s);

// Paper size list (CX01): the item captions and the nZumen code of an index.
inline constexpr int kPaperSizeCount = 12;
extern const char16_t* const kPaperSizeItems[kPaperSizeCount];
// nZumen for a list index; 0 for an index outside 0..11 (no selection).
int32_t PaperSizeCode(int32_t index);
// The caption of an nZumen code, or an empty string for a code no item gives.
std::u16string PaperSizeCaption(int32_t nZumen);

}  // namespace morvane
