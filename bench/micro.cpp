// Micro benchmarks: Shift_JIS conversion (the table against a converter opened
// per string), UTF-16 strings read, and the header and entity sections read
// and written in memory.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "bench/DrawingGen.h"
#include "support/Func_2.h"

using namespace morvane;

namespace {

std::vector<std::u16string> SampleTexts() {
    std::vector<std::u16string> texts;
    const char16_t* words[] = {u"平面図", u"寝室 6畳", u"ＬＤＫ　１８．５帖", u"W=1820", u"浴室・洗面所",
                               u"バルコニー", u"Ａマンション 3F", u"kitchen"};
    for (int i = 0; i < 1000; ++i) texts.push_back(std::u16string(words[i % 8]) + IntToDecStr(i));
    return texts;
}

std::vector<ByteBuffer> SampleBytes() {
    std::vector<ByteBuffer> out;
    for (auto& t : SampleTexts()) out.push_back(StrToAnsiBytes(t));
    return out;
}

void BM_SjisDecodeTable(benchmark::State& state) {
    auto bytes = SampleBytes();
    for (auto _ : state)
        for (auto& b : bytes) benchmark::DoNotOptimize(AnsiBytesToStr(b));
    state.SetItemsProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_SjisDecodeTable);

void BM_SjisDecodeIconvPerString(benchmark::State& state) {
    auto bytes = SampleBytes();
    for (auto _ : state)
        for (auto& b : bytes) {
            iconv_t cd = iconv_open("UTF-16LE", "CP932");
            std::u16string out(b.size() * 2 + 2, u'\0');
            char* in = reinterpret_cast<char*>(b.data());
            size_t inLeft = b.size();
            char* o = reinterpret_cast<char*>(out.data());
            size_t outLeft = out.size() * 2;
            iconv(cd, &in, &inLeft, &o, &outLeft);
            iconv_close(cd);
            benchmark::DoNotOptimize(out);
        }
    state.SetItemsProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_SjisDecodeIconvPerString);

// The UTF-16 form of the same texts, as drawings saved with UTF-16 strings
// hold them: no table, only the copy into the string.
void BM_Utf16Decode(benchmark::State& state) {
    std::vector<ByteBuffer> bytes;
    for (auto& t : SampleTexts()) bytes.push_back(StrToWideBytes(t));
    for (auto _ : state)
        for (auto& b : bytes) benchmark::DoNotOptimize(WideBytesToStr(b.data(), b.size()));
    state.SetItemsProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_Utf16Decode);

void BM_SjisEncodeTable(benchmark::State& state) {
    auto texts = SampleTexts();
    for (auto _ : state)
        for (auto& t : texts) benchmark::DoNotOptimize(StrToAnsiBytes(t));
    state.SetItemsProcessed(state.iterations() * texts.size());
}
BENCHMARK(BM_SjisEncodeTable);

// As the writer encodes: appended to one buffer that is reused for every string.
void BM_SjisEncodeTableReused(benchmark::State& state) {
    auto texts = SampleTexts();
    ByteBuffer bytes;
    for (auto _ : state)
        for (auto& t : texts) {
            bytes.clear();
            AppendAnsiBytes(t, bytes);
            benchmark::DoNotOptimize(bytes.data());
        }
    state.SetItemsProcessed(state.iterations() * texts.size());
}
BENCHMARK(BM_SjisEncodeTableReused);

void BM_SjisEncodeIconvPerString(benchmark::State& state) {
    auto texts = SampleTexts();
    for (auto _ : state)
        for (auto& t : texts) {
            iconv_t cd = iconv_open("CP932", "UTF-16LE");
            std::string out(t.size() * 2 + 2, '\0');
            char* in = reinterpret_cast<char*>(t.data());
            size_t inLeft = t.size() * 2;
            char* o = out.data();
            size_t outLeft = out.size();
            iconv(cd, &in, &inLeft, &o, &outLeft);
            iconv_close(cd);
            benchmark::DoNotOptimize(out);
        }
    state.SetItemsProcessed(state.iterations() * texts.size());
}
BENCHMARK(BM_SjisEncodeIconvPerString);

// A drawing of the large mix divided by 100, without images.
struct Sections {
    std::vector<uint8_t> header, entities;
    Sections() {
        TJwwData doc;
        gen::DrawingMix mix = gen::DrawingMix::LargeScaled(100);
        mix.images = 0;
        gen::Generate(doc, mix, 700, false);
        ByteWriter h;
        doc.WriteHeader(h, 700);
        header = h.bytes();
        ByteWriter e;
        JwwClassMap map;
        doc.WriteEntitySection(e, 700, map);
        entities = e.bytes();
    }
};
const Sections& SectionBytes() {
    static Sections s;
    return s;
}

void BM_HeaderRead(benchmark::State& state) {
    const auto& s = SectionBytes();
    TJwwData doc;
    for (auto _ : state) {
        ByteReader r(s.header);
        benchmark::DoNotOptimize(doc.ReadHeader(r));
    }
    state.SetBytesProcessed(state.iterations() * s.header.size());
}
BENCHMARK(BM_HeaderRead);

void BM_HeaderWrite(benchmark::State& state) {
    const auto& s = SectionBytes();
    TJwwData doc;
    ByteReader r(s.header);
    doc.ReadHeader(r);
    for (auto _ : state) {
        ByteWriter w;
        doc.WriteHeader(w, 700);
        benchmark::DoNotOptimize(w.bytes().data());
    }
    state.SetBytesProcessed(state.iterations() * s.header.size());
}
BENCHMARK(BM_HeaderWrite);

void BM_EntitySectionRead(benchmark::State& state) {
    const auto& s = SectionBytes();
    for (auto _ : state) {
        TJwwData doc;
        doc.Enthd.jwVer = 700;
        ByteReader r(s.entities);
        JwwClassMap map;
        doc.ReadEntitySection(r, map);
        benchmark::DoNotOptimize(doc.EntLineN);
    }
    state.SetBytesProcessed(state.iterations() * s.entities.size());
}
BENCHMARK(BM_EntitySectionRead)->Unit(benchmark::kMillisecond);

void BM_EntitySectionWrite(benchmark::State& state) {
    const auto& s = SectionBytes();
    TJwwData doc;
    doc.Enthd.jwVer = 700;
    ByteReader r(s.entities);
    JwwClassMap readMap;
    doc.ReadEntitySection(r, readMap);
    for (auto _ : state) {
        ByteWriter w;
        JwwClassMap map;
        doc.WriteEntitySection(w, 700, map);
        benchmark::DoNotOptimize(w.bytes().data());
    }
    state.SetBytesProcessed(state.iterations() * s.entities.size());
}
BENCHMARK(BM_EntitySectionWrite)->Unit(benchmark::kMillisecond);

// The block tree of the large drawing: 2,000 definitions nested three deep
// and 50,000 inserts, about 173,000 instances.
void BM_BlockTree(benchmark::State& state) {
    TJwwData doc;
    gen::DrawingMix mix;
    mix.blockDefs = gen::DrawingMix::Large().blockDefs;
    mix.inserts = gen::DrawingMix::Large().inserts;
    gen::Generate(doc, mix, 700, false);
    for (auto _ : state) {
        doc.MakeBlockTree();
        benchmark::DoNotOptimize(doc.EntBlockTree.data());
    }
    state.SetItemsProcessed(state.iterations() * doc.EntBlockTreeN);
}
BENCHMARK(BM_BlockTree)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
