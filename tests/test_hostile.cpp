// Damaged and hostile drawings on the whole road of one file in a batch:
// load, unpack the bound images, apply the settings, save beside nothing
// else. Every case starts from the fixture drawing as the writer saves it and
// damages one thing. Whatever the bytes: the load fails or succeeds as the
// format says, a failure says why, the destination holds the whole drawing or
// nothing, and no file appears outside the destination and working folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>

#include "CliRunner.h"
#include "app/BatchRun.h"
#include "doc/ByteWriter.h"
#include "fuzz/FuzzPipeline.h"
#include "tests/DrawingFixture.h"
#include "tests/TestFiles.h"

using namespace morvane;
namespace fs = std::filesystem;
using testfiles::Bytes;

namespace {

// ---- The fixture drawing in its four sections ------------------------------------------

struct Image {
    std::string name;  // Shift_JIS form, given as bytes
    int32_t size;
    Bytes data;
};

Bytes ImageSection(const std::vector<Image>& images, int32_t count) {
    Bytes b;
    testfiles::PutI32(b, count);
    for (const Image& i : images) {
        b.push_back(static_cast<uint8_t>(i.name.size()));
        testfiles::Append(b, testfiles::BytesOf(i.name));
        testfiles::PutI32(b, i.size);
        testfiles::Append(b, i.data);
    }
    return b;
}
Bytes ImageSection(const std::vector<Image>& images) {
    return ImageSection(images, static_cast<int32_t>(images.size()));
}

const Bytes kPhoto = testfiles::Pattern(20000, 3);
const Bytes kMap = testfiles::Pattern(3000, 4);
// The images that the fixture's texts refer to.
std::vector<Image> FixtureImages() {
    Bytes gz = testfiles::Gzip(kPhoto);
    return {{"photo.jpg.gz", static_cast<int32_t>(gz.size()), gz}, {"map.png", 3000, kMap}};
}

struct Drawing {
    Bytes header, entities, blocks, images;
    Bytes All() const {
        Bytes b = header;
        for (const Bytes* p : {&entities, &blocks, &images}) testfiles::Append(b, *p);
        return b;
    }
};

// The sections of `d` as FileOut writes them for version 700, with `images`
// in place of the working folder's files.
Drawing Sections(TJwwData& d, const std::vector<Image>& images = FixtureImages()) {
    Drawing out;
    JwwClassMap map;
    ByteWriter h, e, b;
    d.WriteHeader(h, 700);
    d.WriteEntitySection(e, 700, map);
    d.WriteBlockDefSection(b, 700, map);
    return {h.bytes(), e.bytes(), b.bytes(), ImageSection(images)};
}

Drawing Fixture(const std::function<void(TJwwData&)>& change = {}) {
    TJwwData d;
    fixture::Build(d, false);
    if (change) change(d);
    return Sections(d);
}

Bytes Cut(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<ptrdiff_t>(n)); }

// `b` with its first `n` bytes replaced by `with`.
Bytes ReplaceHead(const Bytes& b, size_t n, const Bytes& with) {
    Bytes out = with;
    out.insert(out.end(), b.begin() + static_cast<ptrdiff_t>(n), b.end());
    return out;
}

// `b` with the first occurrence of `what` replaced by `with`.
Bytes Replace(Bytes b, std::string_view what, std::string_view with) {
    auto at = std::search(b.begin(), b.end(), what.begin(), what.end());
    EXPECT_NE(at, b.end()) << what;
    if (at == b.end()) return b;
    at = b.erase(at, at + static_cast<ptrdiff_t>(what.size()));
    b.insert(at, with.begin(), with.end());
    return b;
}

// ---- The cases ------------------------------------------------------------------------------

enum class Expect { Converts, Fails };

struct HostileCase {
    std::string name;
    Bytes file;
    Expect expect;
};

// Definitions 1..depth, each inserting the next one `fanOut` times; the
// drawing inserts the first. With `selfInsert` the last inserts itself.
Drawing Nesting(uint32_t depth, int fanOut, bool selfInsert) {
    TJwwData d;
    fixture::SizeTables(d);
    fixture::Seed s;
    fixture::AddBlock(d, fixture::Insert(1, s));
    for (uint32_t k = 1; k <= depth; ++k) {
        TEntJwwBlockDef def = fixture::Definition(k, u"level", s);
        for (int i = 0; i < fanOut && k < depth; ++i) fixture::AddBlock(def, fixture::Insert(k + 1, s));
        if (k == depth) fixture::AddBlock(def, fixture::Insert(selfInsert ? k : 9999, s));
        fixture::AddDefinition(d, std::move(def));
        d.EntBlockDef.back().ref_flag = true;
        d.EntBlockDef.back().ref_no = static_cast<int32_t>(k - 1);
    }
    d.EntBlockNum = static_cast<int32_t>(depth);
    return Sections(d, {});
}

// The drawing inserts definition 1; definition k inserts k + 1 `fanOut` times
// up to `depth`. Names and numbers are given per definition.
Drawing Chain(uint32_t depth, int fanOut, const std::function<std::u16string(uint32_t)>& name,
              const std::function<uint32_t(uint32_t)>& number, uint32_t extraDefinitions = 0) {
    TJwwData d;
    fixture::SizeTables(d);
    fixture::Seed s;
    fixture::AddBlock(d, fixture::Insert(number(1), s));
    for (uint32_t k = 1; k <= depth + extraDefinitions; ++k) {
        TEntJwwBlockDef def = fixture::Definition(number(k), name(k), s);
        for (int i = 0; i < fanOut && k < depth; ++i) fixture::AddBlock(def, fixture::Insert(number(k + 1), s));
        fixture::AddDefinition(d, std::move(def));
        d.EntBlockDef.back().ref_flag = true;  // saved as they stand, numbers included
        d.EntBlockDef.back().ref_no = static_cast<int32_t>(number(k));
    }
    d.EntBlockNum = static_cast<int32_t>(depth + extraDefinitions);
    return Sections(d, {});
}

std::vector<HostileCase> Truncations(const Drawing& f) {
    const Bytes all = f.All();
    const size_t header = f.header.size(), entities = header + f.entities.size();
    const size_t blocks = entities + f.blocks.size();
    return {
        {"empty file", {}, Expect::Fails},
        {"cut inside the signature", Cut(all, 5), Expect::Fails},
        {"cut inside the header", Cut(all, header / 2), Expect::Fails},
        {"cut after the header", Cut(all, header), Expect::Fails},
        {"cut inside the entity count", Cut(all, header + 1), Expect::Fails},
        {"cut after the entities", Cut(all, entities), Expect::Fails},
        // A read past the end in the image section is no error: the count
        // reads as 0, and an image keeps what the file still holds.
        {"cut after the block definitions", Cut(all, blocks), Expect::Converts},
        {"cut inside the image count", Cut(all, blocks + 2), Expect::Converts},
        {"cut inside the first image", Cut(all, blocks + 30), Expect::Converts},
        {"cut one byte short", Cut(all, all.size() - 1), Expect::Converts},
    };
}

std::vector<HostileCase> Counts(const Drawing& f) {
    auto withEntityCount = [&](const Bytes& count) {
        Drawing d = f;
        d.entities = ReplaceHead(f.entities, 2, count);
        return d.All();
    };
    auto withDefinitionCount = [&](const Bytes& count) {
        Drawing d = f;
        d.blocks = ReplaceHead(f.blocks, 2, count);
        return d.All();
    };
    auto withImageCount = [&](int32_t count) {
        Drawing d = f;
        d.images = ImageSection(FixtureImages(), count);
        return d.All();
    };
    return {
        {"entity count 65535", withEntityCount({0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}), Expect::Fails},
        {"entity count 4 billion", withEntityCount({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), Expect::Fails},
        {"definition count 65535", withDefinitionCount({0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}), Expect::Fails},
        {"definition count 4 billion", withDefinitionCount({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), Expect::Fails},
        {"image count 2 billion", withImageCount(INT32_MAX), Expect::Converts},
        {"negative image count", withImageCount(-5), Expect::Converts},
    };
}

std::vector<HostileCase> Classes(const Drawing& f) {
    Drawing unknown = f, list = f;
    unknown.entities = Replace(f.entities, "CDataSen", "CDataXen");
    // "CDataList" names a definition, which the entity section does not allow.
    list.entities = Replace(f.entities, std::string("\x08\x00" "CDataSen", 10), std::string("\x09\x00" "CDataList", 11));
    // A reference to a class index nobody holds is skipped; the count then
    // runs past the last object, into the definitions and the end of the file.
    Drawing unknownRef = f;
    unknownRef.entities = ReplaceHead(f.entities, 2, {0x01, 0x00, 0x63, 0x80});
    Drawing tagsPastEnd = f;
    tagsPastEnd.entities = {0x05, 0x00};
    tagsPastEnd.blocks.clear();
    tagsPastEnd.images.clear();
    return {
        {"unknown class name", unknown.All(), Expect::Fails},
        {"definition class among the entities", list.All(), Expect::Fails},
        {"reference to an unknown class index", unknownRef.All(), Expect::Fails},
        {"tags past the end of the file", tagsPastEnd.All(), Expect::Fails},
        // The block tree cuts a cycle where it closes.
        {"definition inserting itself", Nesting(3, 1, true).All(), Expect::Converts},
        {"nesting of 2^40 instances", Nesting(41, 2, false).All(), Expect::Fails},
        // With a cycle the size is not known before the tree is built.
        {"nesting of 2^19 instances and a cycle", Nesting(20, 2, true).All(), Expect::Converts},
        {"nesting of 2^22 instances and a cycle", Nesting(23, 2, true).All(), Expect::Fails},
        // Every node of the tree keeps its definition's name: 1,600 copies of
        // a name of 65,535 characters would take 200 MB (a million, 128 GB).
        {"a long name repeated in the tree",
         Chain(3, 40, [](uint32_t k) { return k == 3 ? std::u16string(65535, u'x') : u"a"; },
               [](uint32_t k) { return k; }).All(),
         Expect::Fails},
        // Numbers that all fall into one bucket of a hash table sized for
        // 40,000 entries: looked up 40,000 times, they must not cost a search
        // through all definitions each.
        {"40,000 definitions with colliding numbers",
         Chain(3, 200, [](uint32_t) { return u"b"; }, [](uint32_t k) { return k * 42043u; }, 40000).All(),
         Expect::Converts},
    };
}

std::vector<HostileCase> Images(const Drawing& f) {
    auto withImages = [&](std::vector<Image> images) {
        Drawing d = f;
        d.images = ImageSection(images);
        return d.All();
    };
    auto named = [&](const std::string& name) {
        return withImages({{name, 64, testfiles::Pattern(64)}, FixtureImages()[1]});
    };
    Bytes allExceptImages = f.All();
    allExceptImages.resize(allExceptImages.size() - f.images.size());
    // Two members that each stay under the test's bound and together pass it.
    const Bytes zeros(600 * 1024, 0);
    const Bytes bomb = testfiles::Gzip(zeros);
    return {
        {"image name ..", named(".."), Expect::Converts},
        {"image name with ../", named("../escape.png"), Expect::Converts},
        {"image name with a slash", named("/tmp/escape.png"), Expect::Converts},
        {"image name with a backslash", named("..\\escape.png"), Expect::Converts},
        {"image name with a drive", named("C:escape.png"), Expect::Converts},
        {"image name with control characters", named("\x01..\x02/esc\x7f.png"), Expect::Converts},
        {"empty image name", named(""), Expect::Converts},
        {"image size beyond the file", withImages({{"map.png", INT32_MAX, kMap}}), Expect::Converts},
        {"negative image size", withImages({{"map.png", -1000, kMap}}), Expect::Converts},
        {"invalid gzip", withImages({{"photo.jpg.gz", 5000, testfiles::Pattern(5000)}}), Expect::Converts},
        {"gzip bomb", withImages({{"photo.jpg.gz", static_cast<int32_t>(bomb.size()), bomb},
                                  {"map.png.gz", static_cast<int32_t>(bomb.size()), bomb}}),
         Expect::Converts},
    };
}

std::vector<HostileCase> Values(const Drawing& f) {
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    // The memo's length (behind "JwwData." and the version) in its 32-bit
    // form, claiming 2 GiB.
    Bytes memo(f.header.begin(), f.header.begin() + 12);
    testfiles::Append(memo, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
    memo.insert(memo.end(), f.header.begin() + 13, f.header.end());
    Drawing memoPastEnd = f;
    memoPastEnd.header = memo;
    return {
        {"memo length past the end", memoPastEnd.All(), Expect::Fails},
        {"NaN and infinite coordinates and sizes", Fixture([&](TJwwData& d) {
             d.EntLine[0].start_x = nan;
             d.EntLine[0].end_y = -inf;
             d.EntMoji[0].dSizeX = nan;
             d.EntMoji[0].dSizeY = inf;
             d.EntMoji[0].dKankaku = -inf;
             d.EntBlock[0].dBairitsuX = nan;
             d.Enthd.dMojiSizeX = inf;
             d.EntEnko[0].dHankei = nan;
         }).All(),
         Expect::Converts},
    };
}

std::vector<HostileCase> HostileCases() {
    const Drawing f = Fixture();
    std::vector<HostileCase> all = {{"the fixture itself", f.All(), Expect::Converts}};
    for (auto part : {Truncations, Counts, Classes, Images, Values})
        for (HostileCase& c : part(f)) all.push_back(std::move(c));
    return all;
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A sandbox in a folder "box": src/ with the drawing, dest/, work/ (the
// working folder), and a file beside them that nothing may touch.
struct Sandbox {
    TempFolder tmp;
    fs::path box = tmp.path() / "box" / "inner";
    Sandbox() {
        for (const char* d : {"src", "dest", "work"}) fs::create_directories(box / d);
        tmp.Write("box/inner/keep.gz", "keep");
    }
    std::u16string U(const std::string& rel) const { return Utf8ToStr((box / rel).string()); }
};

void ExpectHandled(const HostileCase& c) {
    SCOPED_TRACE(c.name);
    Sandbox s;
    s.tmp.Write("box/inner/src/d.jww", std::string(c.file.begin(), c.file.end()));
    TJwwData doc;
    doc.BindImageFolder = s.U("work/");
    doc.BindImageExp = doc.BindImageExr = true;
    doc.SetUnpackLimitForTest(1 << 20);
    BatchSettings settings;
    settings.CB01 = true;
    settings.ED01 = u"hostile";
    ConversionOutcome out = RunProc1(doc, settings, s.U("src/d.jww"), s.U("dest/d.jww"));

    EXPECT_EQ(out.ok, c.expect == Expect::Converts) << StrToUtf8(out.reason);
    if (out.ok) {
        EXPECT_EQ(Names(s.box / "dest"), std::vector<std::string>{"d.jww"});
        TJwwData again;
        EXPECT_TRUE(LoadDrawing(s.box / "dest" / "d.jww", again)) << again.LastFailure().Describe();
        EXPECT_EQ(again.MemoLine1, u"hostile");
    } else {
        EXPECT_FALSE(out.reason.empty());
        EXPECT_TRUE(fs::is_empty(s.box / "dest"));  // no temporary file either
    }
    // Nothing beside or above the folders; the working folder holds only
    // files, and nothing once the document is freed.
    EXPECT_EQ(Names(s.box), (std::vector<std::string>{"dest", "keep.gz", "src", "work"}));
    EXPECT_EQ(Names(s.tmp.path()), std::vector<std::string>{"box"});
    EXPECT_EQ(Names(s.tmp.path() / "box"), std::vector<std::string>{"inner"});
    EXPECT_EQ(ReadFile(s.box / "keep.gz"), "keep");
    for (const auto& e : fs::directory_iterator(s.box / "work")) EXPECT_TRUE(e.is_regular_file()) << e.path();
    JwwDataFree(doc);
    EXPECT_TRUE(fs::is_empty(s.box / "work")) << Names(s.box / "work").front();
}

}  // namespace

TEST(HostileDrawing, EachCaseFailsOrConvertsAndWritesOnlyWhereItMay) {
    for (const HostileCase& c : HostileCases()) ExpectHandled(c);
}

// Cut at every byte of the entity and block definition sections (inside
// every kind of record): the load fails with its reason, except inside the
// body of the very last object, a block insert, whose short read the format
// accepts (its fields keep their zero fill): then the drawing converts.
TEST(HostileDrawing, CutAtEveryByteOfTheObjectSections) {
    const Drawing f = Fixture();
    const Bytes all = f.All();
    const size_t from = f.header.size(), to = from + f.entities.size() + f.blocks.size();
    constexpr size_t kLastBody = 15 + 5 * 8 + 4;  // attribute, placement, definition number
    TempFolder tmp;
    fs::create_directories(tmp.path() / "work");
    for (size_t n = from; n < to; ++n) {
        const Bytes cut = Cut(all, n);
        if (n < to - kLastBody) {
            tmp.Write("cut.jww", std::string(cut.begin(), cut.end()));
            TJwwData d;
            ASSERT_FALSE(LoadDrawing(tmp.path() / "cut.jww", d)) << "cut at " << n;
            ASSERT_TRUE(d.LastFailure().failed) << "cut at " << n;
        } else {
            fuzz::PipelineResult r = fuzz::RunPipeline(cut.data(), cut.size(), (tmp.path() / "work").string() + "/");
            ASSERT_TRUE(r.loaded && r.saved && r.reloaded && r.streamedSame) << "cut at " << n << ": " << r.failure;
        }
    }
}

// The command line on every case, as a process limited to 512 MB of address
// space (the real bounds, not the test's). It must end by itself with status 0
// or 1. The peak memory and time of each case are printed, not judged; the
// peak counts the forked test's own pages too, so it is an upper bound.
TEST(HostileDrawing, CommandLineStaysWithinItsMemoryOnEveryCase) {
    SKIP_WITHOUT_CLI();
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve far more address space than the limit";
#endif
    CliFixture f;
    std::vector<HostileCase> cases = HostileCases();
    // A real bomb for the real bound: members of 16 MiB of zeros, 272 MiB in all.
    const Bytes packed = testfiles::Gzip(Bytes(16u << 20, 0));
    const Bytes member(packed.begin(), packed.end());  // without the spare capacity
    Bytes bomb;
    for (int i = 0; i < 17; ++i) testfiles::Append(bomb, member);
    Drawing big = Fixture();
    big.images = ImageSection({{"photo.jpg.gz", static_cast<int32_t>(bomb.size()), bomb}});
    cases.push_back({"gzip bomb of 272 MiB", big.All(), Expect::Converts});

    for (size_t i = 0; i < cases.size(); ++i) {
        const HostileCase& c = cases[i];
        SCOPED_TRACE(c.name);
        const std::string src = f.tmp.Write("src/c" + std::to_string(i) + ".jww", std::string(c.file.begin(), c.file.end())).string();
        CliResult r = f.Run({"--settings", f.settings, "--dest", f.Path("out"), src}, {.addressSpace = 512u << 20});
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.exit, c.expect == Expect::Converts ? 0 : 1) << r.err;
        if (c.expect == Expect::Fails) {
            EXPECT_NE(r.err.find(src + ": "), std::string::npos) << r.err;
        }
        std::printf("  %-45s %8.1f MB %7.3f s  %s\n", c.name.c_str(), r.peakKb / 1024.0, r.seconds,
                    r.exit == 0 ? "converted" : "failed");
    }
    EXPECT_TRUE(fs::is_empty(f.tmp.path() / "tmp"));
    EXPECT_FALSE(fs::exists(f.tmp.path() / "bin" / "TEMP"));
}
