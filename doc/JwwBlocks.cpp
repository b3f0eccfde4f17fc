// The block definition section: a definition count, then per definition one
// "CDataList" object:
//   class tag
//   fixed part, 27 bytes (25 before 351): attribute, nNumber, bRefferd, dtime
//   8 more bytes only when dtime has its top bit set (dropped on reading)
//   strName (archive string)
//   nested object count and the nested entity list, laid out as the entity
//   section's list and continuing the same class map
// Only definitions that the drawing reaches are saved, renumbered 0, 1, 2 ...
// (MakeBlockTree, ChangeBlockNo).
#include <algorithm>

#include "doc/JwwObjects.h"
#include "support/Func_2.h"

namespace morvane {

namespace {

// Tag, fixed part, a one-byte name and a two-byte nested count.
uint64_t MinDefinitionBytes(int32_t ver) {
    return 2 + (ver >= kVerAttrWidth ? kBlockDefFixedSize : kBlockDefFixedSize - 2) + 1 + 2;
}

// Any tag stands for "CDataList" here: a new-class tag gives that class the
// current map index whatever name it carries, and a reference is not checked.
void ReadDefinitionTag(jwwobj::ObjectReader& in) {
    const uint64_t at = in.r.position();
    const uint16_t t = in.ReadTagWord();
    if (t == 0xFFFF) {
        in.ReadClassName(at, nullptr);
        in.map.classIndex[kKindBlockDef] = in.map.index++;
    } else if (t == 0x7FFF) {
        in.ReadTagDword();
    }
}

}  // namespace

void TJwwData::ReadBlockDefSection(ByteReader& r, JwwClassMap& map) {
    const int32_t ver = Enthd.jwVer;
    const uint64_t at = r.position();
    const uint32_t count = ReadObjectCount(r);
    jwwobj::CheckCountFits(r, at, count, MinDefinitionBytes(ver), "block definition count");
    EntBlockDef.clear();
    EntBlockDefN = static_cast<int32_t>(count);
    Enthd.n2 = EntBlockDefN;

    // A definition record is ten times the 32 bytes the count check allows
    // each one in the input: the records are made as they are read, so that
    // a count the following bytes do not bear out costs nothing.
    jwwobj::ObjectReader in(*this, r, map);
    for (uint32_t i = 0; i < count; ++i) {
        TEntJwwBlockDef& def = EntBlockDef.emplace_back();
        ReadDefinitionTag(in);

        const uint64_t fixedAt = r.position();
        TEntJwwBlockDefFixed fixed;
        if (in.ReadFixed(&fixed, kBlockDefFixedSize) == 0)
            throw JwwIoError(kFileIoError, fixedAt, "block definition past the end of the file");
        static_cast<TEntJwwBlockDefFixed&>(def) = fixed;
        // A dtime with its top bit set carries 8 more bytes; the definition's
        // position stands in for it.
        if (def.dtime >= 0x80000000u) {
            r.skip(8);
            def.dtime = i + 1;
        }
        def.strName = ReadCleanString(r);

        const uint64_t countAt = r.position();
        const uint32_t nested = ReadObjectCount(r);
        jwwobj::CheckCountFits(r, countAt, nested, jwwobj::MinObjectBytes(ver), "nested entity count");
        def.N = static_cast<int32_t>(nested);
        def.mNo.assign(nested, TEntJwwNo{});
        ++map.index;  // the definition object itself

        jwwobj::EntityArrays arrays = jwwobj::NestedArrays(def);
        in.ReadList(nested, arrays);
        jwwobj::TrimArrays(arrays);
    }
}

void TJwwData::WriteBlockDefSection(ByteWriter& w, int32_t Ver, JwwClassMap& map) const {
    const size_t defs = std::min(EntBlockDef.size(), static_cast<size_t>(std::max(Enthd.n2, 0)));
    // The count of the definitions actually written; after MakeBlockTree this
    // is EntBlockNum.
    const auto reached = std::count_if(EntBlockDef.begin(), EntBlockDef.begin() + defs,
                                       [](const TEntJwwBlockDef& d) { return d.ref_flag; });
    WriteObjectCount(w, static_cast<uint32_t>(reached));

    const jwwobj::BlockNumberMap numbers(*this);
    jwwobj::ObjectWriter out(*this, w, Ver, map, numbers);
    for (size_t i = 0; i < defs; ++i) {
        const TEntJwwBlockDef& def = EntBlockDef[i];
        if (!def.ref_flag) continue;
        out.WriteTag(kKindBlockDef);
        WriteAttr(w, Ver, def.att, kKindBlockDef);
        w.u32(numbers(def.nNumber));
        w.u32(def.bRefferd);
        w.u32(def.dtime);
        WriteStoredString(w, def.strName);
        const jwwobj::EntityView view = jwwobj::NestedView(def);
        WriteObjectCount(w, static_cast<uint32_t>(out.Count(view)));
        ++map.index;  // the definition object itself
        out.WriteList(view);
    }
}

}  // namespace morvane
