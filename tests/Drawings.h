// Small drawings made by the program's own writer, for tests of the batch run
// and the command line.
#pragma once

#include <filesystem>
#include <string>

#include "doc/JwwUnit.h"
#include "support/Func_2.h"

namespace morvane {

// An empty drawing (tables at their fixed sizes, no entity) with the memo
// `memo`, written in version `ver`, all strings UTF-16 when `unicode`.
inline bool MakeDrawing(const std::filesystem::path& path, const std::u16string& memo, bool unicode = false,
                        int32_t ver = 700) {
    TJwwData doc;
    doc.SizeTables();
    for (int k = 0; k < kColorCount; ++k) doc.EntCol[k].anPenWidth = 1;
    doc.Enthd.strMemo = memo;
    doc.SetFileOutOption(unicode ? kOptUnicode : 0);
    return doc.FileOut(Utf8ToStr(path.string()), ver);
}

// Loads a drawing into a fresh document (no bound images unpacked).
inline bool LoadDrawing(const std::filesystem::path& path, TJwwData& doc) {
    doc.BindImageExp = false;
    doc.BindImageExr = true;
    return doc.FileIn(Utf8ToStr(path.string()));
}

}  // namespace morvane
