#include "bench/DrawingGen.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "support/Func_2.h"

namespace morvane::gen {

namespace {

class Random {
public:
    explicit Random(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
    double coord() { return static_cast<double>(next() % 2000000) / 100.0 - 10000.0; }

private:
    uint64_t s_;
};

constexpr std::array<const char16_t*, 16> kWords = {
    u"平面図", u"立面図", u"断面図", u"寝室",   u"居間",   u"台所",     u"浴室",   u"玄関",
    u"ＬＤＫ", u"収納",   u"廊下",   u"和室６畳", u"洋室", u"バルコニー", u"階段", u"便所"};

TEntJwwAttr Attr(Random& rnd) {
    TEntJwwAttr a;
    a.lGroup = 0;
    a.nPenStyle = static_cast<uint8_t>(1 + rnd.below(9));
    a.nPenColor = static_cast<uint16_t>(1 + rnd.below(9));
    a.nPenWidth = 0;
    a.nLayer = static_cast<uint16_t>(rnd.below(16));
    a.nGLayer = static_cast<uint16_t>(rnd.below(16));
    a.sFlg = 0;
    return a;
}

TEntJwwLine Line(Random& rnd) {
    TEntJwwLine l;
    l.att = Attr(rnd);
    l.start_x = rnd.coord();
    l.start_y = rnd.coord();
    l.end_x = rnd.coord();
    l.end_y = rnd.coord();
    return l;
}

TEntJwwEnko Arc(Random& rnd) {
    TEntJwwEnko e;
    e.att = Attr(rnd);
    e.start_x = rnd.coord();
    e.start_y = rnd.coord();
    e.dHankei = 1.0 + rnd.below(5000) / 10.0;
    bool full = rnd.below(4) == 0;
    e.radKaishiKaku = full ? 0.0 : rnd.below(628) / 100.0;
    e.radEnkoKaku = full ? 2 * M_PI : rnd.below(628) / 100.0;
    e.radKatamukiKaku = 0;
    e.dHenpeiRitsu = 1.0;
    e.bZenEnFlg = full ? 1 : 0;
    return e;
}

TEntJwwTen Point(Random& rnd, bool nested) {
    TEntJwwTen t;
    t.att = Attr(rnd);
    t.att.nPenStyle = rnd.below(5) == 0 ? 100 : 1;
    t.start_x = rnd.coord();
    t.start_y = rnd.coord();
    t.bKariten = rnd.below(10) == 0 ? 1 : 0;
    if (t.att.nPenStyle == 100) {
        t.nCode = static_cast<uint32_t>(1 + rnd.below(20));
        t.radKaitenKaku = rnd.below(314) / 100.0;
        t.dBairitsu = 1.0 + rnd.below(4);
    } else {
        t.dBairitsu = nested ? 0.0 : 1.0;
    }
    return t;
}

std::u16string Words(Random& rnd) {
    std::u16string s = kWords[static_cast<size_t>(rnd.below(kWords.size()))];
    if (rnd.below(2)) s += kWords[static_cast<size_t>(rnd.below(kWords.size()))];
    if (rnd.below(3) == 0) s += u" " + IntToDecStr(rnd.below(10000));
    return s;
}

TEntJwwMoji Text(Random& rnd, std::u16string text) {
    TEntJwwMoji m;
    m.att = Attr(rnd);
    m.start_x = rnd.coord();
    m.start_y = rnd.coord();
    m.end_x = m.start_x + 30;
    m.end_y = m.start_y;
    m.nMojiShu = static_cast<uint32_t>(1 + rnd.below(9));
    m.dSizeX = 3.0;
    m.dSizeY = 3.0;
    m.dKankaku = 0.5;
    m.degKakudo = 0;
    m.strFontName = u"ＭＳ ゴシック";
    m.str = std::move(text);
    return m;
}

TEntJwwSunpo Dimension(Random& rnd, int32_t version) {
    TEntJwwSunpo d;
    d.att = Attr(rnd);
    d.Sen = Line(rnd);
    d.Moji = Text(rnd, IntToDecStr(100 + rnd.below(9000)));
    d.bSxfMode = (version >= kVerSxf && rnd.below(2)) ? 1 : 0;
    d.Ho1 = Line(rnd);
    d.Ho2 = Line(rnd);
    for (TEntJwwTen* p : {&d.Te1, &d.Te2, &d.Kt1, &d.Kt2}) *p = Point(rnd, true);
    return d;
}

TEntJwwSolid Solid(Random& rnd) {
    TEntJwwSolid s;
    s.att = Attr(rnd);
    if (rnd.below(3) == 0) {
        s.att.nPenColor = 10;
        s.Color = static_cast<uint32_t>(rnd.next() & 0xFFFFFF);
    }
    s.start_x = rnd.coord();
    s.start_y = rnd.coord();
    s.end_x = rnd.coord();
    s.end_y = rnd.coord();
    s.DPoint2_x = rnd.coord();
    s.DPoint2_y = rnd.coord();
    s.DPoint3_x = rnd.coord();
    s.DPoint3_y = rnd.coord();
    return s;
}

TEntJwwBlock Insert(Random& rnd, uint32_t number) {
    TEntJwwBlock b;
    b.att = Attr(rnd);
    b.DPKijunTen_x = rnd.coord();
    b.DPKijunTen_y = rnd.coord();
    b.dBairitsuX = 1.0;
    b.dBairitsuY = 1.0;
    b.radKaitenKaku = rnd.below(4) * (M_PI / 2);
    b.nNumber = number;
    return b;
}

void FillHeader(TJwwData& doc, int32_t version) {
    doc.SizeTables();
    doc.Enthd.jwID = u"JwwData.";
    doc.Enthd.jwVer = version;
    doc.Enthd.strMemo = u"合成図面\r\n性能測定用";
    doc.Enthd.nZumen = 3;
    doc.Enthd.nMaxDrawWid = 100;
    doc.Enthd.nMojiBG = 11;
    doc.Enthd.dMojiSizeX = doc.Enthd.dMojiSizeY = 3.0;
    for (int g = 0; g < kLayerGroupCount; ++g) {
        doc.EntLgrp[g].adScale = 100.0;
        doc.EntLgrp[g].aStrGLayName = u"グループ" + IntToDecStr(g);
        for (int l = 0; l < 16; ++l) doc.EntLay[g * 16 + l].aStrLayName = u"レイヤ" + IntToDecStr(l);
    }
    for (int i = 0; i < kColorCount; ++i) {
        doc.EntCol[i].aPenColor = i == 0 ? 0xFFFFFF : 0x40 * i;
        doc.EntCol[i].anPenWidth = 1;
        doc.EntCol[i].aPrtPenColor = 0;
        doc.EntCol[i].anPrtPenWidth = 10 + i;
        doc.EntCol[i].adPrtTenHankei = 0.3;
    }
    for (int i = 0; i < kMojiTypeCount; ++i) doc.EntMoj[i] = {2.0 + i, 2.0 + i, 0.0, 1 + i % 9};
}

bool WriteGzip(const std::string& path, const std::vector<uint8_t>& data) {
    gzFile f = gzopen(path.c_str(), "wb6");
    if (!f) return false;
    bool ok = gzwrite(f, data.data(), static_cast<unsigned>(data.size())) == static_cast<int>(data.size());
    return gzclose(f) == Z_OK && ok;
}

template <class T>
void Append(std::vector<T>& v, int32_t& n, T item, std::vector<TEntJwwNo>& order, int kind) {
    v.push_back(std::move(item));
    order.push_back({kind, n++});
}

}  // namespace

DrawingMix DrawingMix::Large() {
    DrawingMix m;
    m.lines = 2'500'000;
    m.arcs = 300'000;
    m.points = 100'000;
    m.texts = 200'000;
    m.dimensions = 20'000;
    m.solids = 50'000;
    m.blockDefs = 2'000;
    m.inserts = 50'000;
    m.images = 20;
    m.imageBytes = 1'000'000;
    return m;
}

DrawingMix DrawingMix::LargeScaled(int divisor) {
    DrawingMix m = Large();
    for (int64_t* c : {&m.lines, &m.arcs, &m.points, &m.texts, &m.dimensions, &m.solids, &m.blockDefs, &m.inserts})
        *c = std::max<int64_t>(1, *c / divisor);
    // The image bytes scale with the rest: fewer images while there are
    // enough, then one smaller image, so that time per megabyte compares.
    const int64_t imageTotal = m.images * m.imageBytes / divisor;
    m.images = std::max(1, m.images / divisor);
    m.imageBytes = std::max<int64_t>(4096, imageTotal / m.images);
    return m;
}

DrawingMix DrawingMix::Medium(uint64_t seed) {
    DrawingMix m;
    m.lines = 700;
    m.arcs = 80;
    m.points = 30;
    m.texts = 60;
    m.dimensions = 10;
    m.solids = 15;
    m.blockDefs = 6;
    m.inserts = 20;
    m.seed = seed;
    return m;
}

DrawingMix DrawingMix::Tiny(uint64_t seed) {
    DrawingMix m;
    m.lines = 3;
    m.arcs = 2;
    m.points = 2;
    m.texts = 2;
    m.dimensions = 1;
    m.solids = 2;
    m.blockDefs = 3;
    m.inserts = 5;
    m.images = 1;
    m.imageBytes = 3000;
    m.seed = seed;
    return m;
}

void Generate(TJwwData& doc, const DrawingMix& mix, int32_t version, bool unicode) {
    doc.DataFree();
    FillHeader(doc, version);
    Random rnd(mix.seed);
    auto& order = doc.EntNo;
    order.reserve(static_cast<size_t>(mix.lines + mix.arcs + mix.points + mix.texts + mix.dimensions +
                                      mix.solids + mix.inserts + mix.images));
    doc.EntLine.reserve(static_cast<size_t>(mix.lines));
    for (int64_t i = 0; i < mix.lines; ++i) Append(doc.EntLine, doc.EntLineN, Line(rnd), order, kKindLine);
    for (int64_t i = 0; i < mix.arcs; ++i) Append(doc.EntEnko, doc.EntEnkoN, Arc(rnd), order, kKindEnko);
    for (int64_t i = 0; i < mix.points; ++i) Append(doc.EntTen, doc.EntTenN, Point(rnd, false), order, kKindTen);
    for (int64_t i = 0; i < mix.texts; ++i) Append(doc.EntMoji, doc.EntMojiN, Text(rnd, Words(rnd)), order, kKindMoji);
    for (int64_t i = 0; i < mix.dimensions; ++i)
        Append(doc.EntSunpo, doc.EntSunpoN, Dimension(rnd, version), order, kKindSunpo);
    for (int64_t i = 0; i < mix.solids; ++i) Append(doc.EntSolid, doc.EntSolidN, Solid(rnd), order, kKindSolid);

    // Definitions in three levels: leaves hold lines and a text, the middle
    // level inserts two leaves, the top level inserts two middle ones. Block
    // numbers start at 1 so that renumbering on save is visible.
    int64_t defs = mix.blockDefs;
    int64_t leaves = std::max<int64_t>(defs / 3, defs > 0 ? 1 : 0);
    int64_t middles = std::max<int64_t>(0, std::min(defs - leaves, defs / 3));
    int64_t nested = 0;
    for (int64_t i = 0; i < defs; ++i) {
        TEntJwwBlockDef d;
        d.att = Attr(rnd);
        d.nNumber = static_cast<uint32_t>(i + 1);
        d.strName = u"部品" + IntToDecStr(static_cast<int32_t>(i + 1));
        auto add = [&](int kind, int32_t& n) { d.mNo.push_back({kind, n++}); };
        if (i < leaves) {
            for (int k = 0; k < 4; ++k) {
                d.mLine.push_back(Line(rnd));
                add(kKindLine, d.mLineN);
            }
            d.mMoji.push_back(Text(rnd, Words(rnd)));
            add(kKindMoji, d.mMojiN);
            d.mTen.push_back(Point(rnd, true));
            add(kKindTen, d.mTenN);
        } else {
            int64_t lo = i < leaves + middles ? 0 : leaves;
            int64_t span = i < leaves + middles ? leaves : std::max<int64_t>(middles, 1);
            for (int k = 0; k < 2; ++k) {
                d.mBlock.push_back(Insert(rnd, static_cast<uint32_t>(lo + rnd.below(static_cast<int>(span)) + 1)));
                add(kKindBlock, d.mBlockN);
                ++nested;
            }
        }
        d.N = static_cast<int32_t>(d.mNo.size());
        doc.EntBlockDef.push_back(std::move(d));
    }
    doc.EntBlockDefN = static_cast<int32_t>(defs);
    doc.Enthd.n2 = doc.EntBlockDefN;
    int64_t topInserts = defs > 0 ? std::max<int64_t>(1, mix.inserts - nested) : 0;
    for (int64_t i = 0; i < topInserts; ++i)
        Append(doc.EntBlock, doc.EntBlockN, Insert(rnd, static_cast<uint32_t>(rnd.below(static_cast<int>(defs)) + 1)),
               order, kKindBlock);

    if (version >= kVerImages && mix.images > 0 && !doc.BindImageFolder.empty()) {
        std::vector<uint8_t> data(static_cast<size_t>(mix.imageBytes));
        for (int i = 0; i < mix.images; ++i) {
            // Photographs are compressed already: fill with noise, then a
            // repeated stretch that gzip can shrink a little.
            for (size_t k = 0; k < data.size(); k += 8) {
                uint64_t v = rnd.next();
                std::memcpy(&data[k], &v, std::min<size_t>(8, data.size() - k));
            }
            std::u16string name = u"photo" + IntToDecStr(i) + u".jpg";
            if (!WriteGzip(NativePath(doc.BindImageFolder + name + u".gz"), data)) continue;
            doc.BindImage.push_back({name + u".gz", 0, false});
            Append(doc.EntMoji, doc.EntMojiN, Text(rnd, u"^@BM%temp%" + name + u",0,0,100,75,0"), order, kKindMoji);
        }
        doc.BindImageN = static_cast<int32_t>(doc.BindImage.size());
    }

    doc.Enthd.n1 = static_cast<int32_t>(order.size());
    doc.MojiEncode = unicode;
    doc.SetFileOutOption(unicode ? kOptUnicode : 0);
    doc.MakeBlockTree();
}

bool WriteDrawing(const std::u16string& path, const DrawingMix& mix, int32_t version, bool unicode,
                  const std::u16string& imageFolder) {
    TJwwData doc;
    doc.BindImageFolder = imageFolder;
    doc.BindImageExp = doc.BindImageExr = true;
    Generate(doc, mix, version, unicode);
    bool ok = doc.FileOut(path, version);
    doc.BindImageDeleteGzFile();
    return ok;
}

}  // namespace morvane::gen
