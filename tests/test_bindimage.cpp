// Bound images: the section's reader and writer, and the image files in the
// working folder (unpacking, packing, copying, deleting).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <filesystem>
#include <optional>
#include <random>

#include "app/BatchRun.h"
#include "doc/JwwUnit.h"
#include "tests/TestFiles.h"

using namespace morvane;
using namespace morvane::testfiles;
namespace fs = std::filesystem;

namespace {

// The bytes of a bound-image section: a count, then name, size and data per
// entry. Names are written in the Shift_JIS form, or the UTF-16 form for the
// u16 overload.
struct Section {
    Bytes bytes;
    explicit Section(int32_t count) { PutI32(bytes, count); }
    Section& Entry(std::string_view name, int32_t size, const Bytes& data) {
        bytes.push_back(static_cast<uint8_t>(name.size()));
        Append(bytes, BytesOf(name));
        PutI32(bytes, size);
        Append(bytes, data);
        return *this;
    }
    Section& Entry(std::string_view name, const Bytes& data) {
        return Entry(name, static_cast<int32_t>(data.size()), data);
    }
    Section& Entry16(std::u16string_view name, const Bytes& data) {
        Append(bytes, {0xFF, 0xFE, 0xFF, static_cast<uint8_t>(name.size())});
        for (char16_t c : name) Append(bytes, {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8)});
        PutI32(bytes, static_cast<int32_t>(data.size()));
        Append(bytes, data);
        return *this;
    }
};

// A document whose working folder is a fresh folder "work" inside the test's
// own folder, so that tests can watch the folder around it too.
struct ImageDoc {
    TempFolder root;
    fs::path work;
    TJwwData doc;

    ImageDoc() : work(root / "work") {
        fs::create_directories(work);
        doc.BindImageFolder = Utf8ToStr(work.string() + "/");
        doc.BindImageExp = true;
        doc.BindImageExr = true;
    }
    void AddText(std::u16string text) {
        TEntJwwMoji m;
        m.str = std::move(text);
        doc.EntMoji.push_back(m);
        doc.EntNo.push_back({kKindMoji, doc.EntMojiN++});
        doc.Enthd.n1 = static_cast<int32_t>(doc.EntNo.size());
    }
    void AddBlockText(std::u16string text) {
        TEntJwwBlockDef def;
        TEntJwwMoji m;
        m.str = std::move(text);
        def.mMoji.push_back(m);
        def.mMojiN = 1;
        def.mNo.push_back({kKindMoji, 0});
        def.N = 1;
        doc.EntBlockDef.push_back(def);
        doc.EntBlockDefN = doc.Enthd.n2 = static_cast<int32_t>(doc.EntBlockDef.size());
    }
    // Reads a section; gives the reader's position afterwards.
    uint64_t Load(const Bytes& section) {
        ByteReader r(section);
        doc.ReadBindImageSection(r);
        return r.position();
    }
    Bytes Save(bool expectOk = true) {
        ByteWriter w;
        EXPECT_EQ(doc.WriteBindImageSection(w), expectOk);
        return w.bytes();
    }
    Bytes File(const std::string& name) const { return ReadBytes(work / name); }
    bool Has(const std::string& name) const { return fs::exists(fs::symlink_status(work / name)); }
};

const Bytes kPhoto = Pattern(70000, 1);
const Bytes kPhotoGz = Gzip(kPhoto);
const Bytes kMap = Pattern(3000, 2);

Section PhotoAndMap() { return std::move(Section(2).Entry("photo.jpg.gz", kPhotoGz).Entry("map.png", kMap)); }

}  // namespace

// ---- Reading and writing the section ------------------------------------------------

TEST(BindImageSection, LoadExplodeAndSaveKeepOnlyTheReferencedImage) {
    ImageDoc d;
    d.AddText(u"^@BM%temp%photo.jpg,100,50,0,0");
    Section s(3);
    s.Entry("photo.jpg.gz", kPhotoGz).Entry("map.png", kMap).Entry16(u"写真.png", kMap);
    EXPECT_EQ(d.Load(s.bytes), s.bytes.size());
    ASSERT_EQ(d.doc.BindImageN, 3);
    EXPECT_EQ(d.doc.BindImage[0].Fname, u"photo.jpg.gz");
    EXPECT_EQ(d.doc.BindImage[0].Fsize, static_cast<int32_t>(kPhotoGz.size()));
    EXPECT_EQ(d.doc.BindImage[2].Fname, u"写真.png");
    EXPECT_EQ(d.File("photo.jpg.gz"), kPhotoGz);
    EXPECT_EQ(d.File("map.png"), kMap);
    EXPECT_EQ(d.File("写真.png"), kMap);
    EXPECT_FALSE(d.Has("photo.jpg"));

    d.doc.BindImageExplode();
    EXPECT_EQ(d.File("photo.jpg"), kPhoto);

    // Only photo.jpg.gz is written, its bytes unchanged.
    EXPECT_EQ(d.Save(), Section(1).Entry("photo.jpg.gz", kPhotoGz).bytes);
    EXPECT_TRUE(d.doc.BindImage[0].exf);
    EXPECT_FALSE(d.doc.BindImage[1].exf);
    EXPECT_FALSE(d.doc.BindImage[2].exf);
}

struct ReferenceCase {
    const char16_t* text;
    bool inBlock;
    bool photo, map;  // which images the text marks
};

class BindImageReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(BindImageReference, MarksTheImagesItNames) {
    const ReferenceCase& c = GetParam();
    ImageDoc d;
    d.AddText(u"plain text, no image");
    if (c.inBlock)
        d.AddBlockText(c.text);
    else
        d.AddText(c.text);
    d.Load(PhotoAndMap().bytes);
    Bytes saved = d.Save();
    EXPECT_EQ(d.doc.BindImage[0].exf, c.photo);
    EXPECT_EQ(d.doc.BindImage[1].exf, c.map);
    Section expected(int32_t{c.photo} + int32_t{c.map});
    if (c.photo) expected.Entry("photo.jpg.gz", kPhotoGz);
    if (c.map) expected.Entry("map.png", kMap);
    EXPECT_EQ(saved, expected.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, BindImageReference,
    ::testing::Values(ReferenceCase{u"^@BM%temp%photo.jpg,1,2", false, true, false},
                      ReferenceCase{u"^@BM%temp%PHOTO.JPG,1", false, true, false},  // letter case does not matter
                      ReferenceCase{u"^@BM%temp%photo.jpg,1", true, true, false},   // inside a block definition
                      ReferenceCase{u"^@BM%temp%photo.jpg", false, false, false},   // no comma: no reference
                      ReferenceCase{u"^@BM%temp%photo,1", false, true, false},      // a shortened name still matches
                      ReferenceCase{u"^@BM%temp%map.png,0", true, false, true},
                      ReferenceCase{u"^@BM%temp%,1", false, false, false},          // empty name matches nothing
                      ReferenceCase{u"^@BMphoto.jpg,1", false, false, false},       // an outside file
                      ReferenceCase{u"^@BM%TEMP%photo.jpg,1", false, false, false}));

// Many entries and texts over a small alphabet, so that names repeat, share
// beginnings and differ in letter case: each text marks the first entry in
// list order whose upper-cased name begins with its reference, exactly as a
// pass over the list would find it.
TEST(BindImageSection, EachReferenceMarksTheFirstEntryItBegins) {
    std::mt19937 rng(20261210);
    auto name = [&](int longest) {
        std::u16string n(1 + rng() % longest, u'a');
        for (char16_t& c : n) c = u"abAB"[rng() % 4];
        return n;
    };
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        ImageDoc d;
        const int entries = 1 + static_cast<int>(rng() % 60);
        for (int i = 0; i < entries; ++i) {
            d.doc.BindImage.push_back({name(4), 0, false});
            WriteBytes(d.work / StrToUtf8(d.doc.BindImage.back().Fname), kMap);
        }
        d.doc.BindImageN = entries;
        std::vector<bool> expected(static_cast<size_t>(entries), false);
        for (int t = 0; t < 30; ++t) {
            const std::u16string ref = name(5);
            d.AddText(u"^@BM%temp%" + ref + u",1");
            for (size_t i = 0; i < expected.size(); ++i) {
                if (UpperCaseStr(d.doc.BindImage[i].Fname).starts_with(UpperCaseStr(ref))) {
                    expected[i] = true;
                    break;
                }
            }
        }
        d.Save();
        for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(d.doc.BindImage[i].exf, expected[i]) << i;
    }
}

TEST(BindImageSection, EntriesWithoutDataKeepTheNextAlignedAndANegativeSizeGetsAnEmptyFile) {
    ImageDoc d;
    d.AddText(u"^@BM%temp%zero.png,1");
    d.AddText(u"^@BM%temp%minus.png,1");
    d.AddText(u"^@BM%temp%after.png,1");
    // Size 0 and a negative size carry no bytes; an empty name neither. Only
    // size 0 and an empty name skip the file: a negative size makes it empty.
    Section s(4);
    s.Entry("zero.png", 0, {}).Entry("minus.png", -5, {}).Entry("", 7, {}).Entry("after.png", kMap);
    EXPECT_EQ(d.Load(s.bytes), s.bytes.size());
    ASSERT_EQ(d.doc.BindImageN, 4);
    EXPECT_EQ(d.doc.BindImage[1].Fsize, -5);
    EXPECT_FALSE(d.Has("zero.png"));
    ASSERT_TRUE(d.Has("minus.png"));
    EXPECT_EQ(d.File("minus.png"), Bytes{});
    EXPECT_EQ(d.File("after.png"), kMap);
    // zero.png is referenced but has no file: left out. minus.png has its
    // empty file: written with size 0.
    EXPECT_EQ(d.Save(), Section(2).Entry("minus.png", 0, {}).Entry("after.png", kMap).bytes);
}

struct FlagCase {
    bool exp, exr;
    int32_t listed;  // BindImageN after loading
    bool files;      // image files created
    int32_t saved;   // images written afterwards
};

class BindImageFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(BindImageFlags, DecideWhatIsReadAndWritten) {
    const FlagCase& c = GetParam();
    ImageDoc d;
    d.AddText(u"^@BM%temp%photo.jpg,1");
    d.doc.BindImageExp = c.exp;
    d.doc.BindImageExr = c.exr;
    Bytes section = PhotoAndMap().bytes;
    uint64_t end = d.Load(section);
    EXPECT_EQ(end, c.listed ? section.size() : 0u);  // with both flags off the section is not read
    EXPECT_EQ(d.doc.BindImageN, c.listed);
    EXPECT_EQ(d.Has("photo.jpg.gz"), c.files);
    EXPECT_EQ(d.Has("map.png"), c.files);
    Bytes saved = d.Save();
    ASSERT_GE(saved.size(), 4u);
    EXPECT_EQ(saved[0], c.saved);
}

INSTANTIATE_TEST_SUITE_P(Combinations, BindImageFlags,
                         ::testing::Values(FlagCase{true, true, 2, true, 1}, FlagCase{true, false, 2, true, 1},
                                           FlagCase{false, true, 2, false, 0}, FlagCase{false, false, 0, false, 0}));

TEST(BindImageSection, ImageDeletedBeforeSavingIsLeftOut) {
    ImageDoc d;
    d.AddText(u"^@BM%temp%photo.jpg,1");
    d.AddText(u"^@BM%temp%map.png,1");
    d.Load(PhotoAndMap().bytes);
    fs::remove(d.work / "photo.jpg.gz");
    EXPECT_EQ(d.Save(), Section(1).Entry("map.png", kMap).bytes);
    EXPECT_FALSE(d.doc.BindImage[0].exf);
    EXPECT_EQ(d.doc.BindImageN, 2);  // the document keeps the entry
}

TEST(BindImageSection, SizesAndCountsBeyondTheFileStopAtItsEnd) {
    ImageDoc d;
    // The size claims 2 GiB - 1 but ten bytes follow: a ten-byte file.
    Section big(1);
    big.Entry("big.png", INT32_MAX, Pattern(10));
    EXPECT_EQ(d.Load(big.bytes), big.bytes.size());
    EXPECT_EQ(d.File("big.png"), Pattern(10));
    // A count far beyond what the file holds keeps only what is there.
    Section many(INT32_MAX);
    many.Entry("one.png", kMap);
    d.Load(many.bytes);
    EXPECT_EQ(d.doc.BindImageN, 1);
    EXPECT_EQ(d.File("one.png"), kMap);
}

TEST(BindImageSection, ImageFileThatCannotBeWrittenIsSkippedWholly) {
    ImageDoc d;
    fs::create_directories(d.work / "blocked.png" / "inner");  // a folder takes the name
    Section s(2);
    s.Entry("blocked.png", Pattern(5000)).Entry("next.png", kMap);
    EXPECT_EQ(d.Load(s.bytes), s.bytes.size());
    EXPECT_TRUE(fs::is_directory(d.work / "blocked.png" / "inner"));
    EXPECT_EQ(d.File("next.png"), kMap);  // read from its own start
}

// Writing stops midway (a file-size limit stands in for a full disk): the
// partial image is removed and the next entry is still read from its start.
TEST(BindImageSection, ImageFileFailingMidwayIsRemovedAndSkipped) {
    ImageDoc d;
    Section s(2);
    s.Entry("large.png", Pattern(600000)).Entry("next.png", kMap);
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 8192;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    uint64_t end = d.Load(s.bytes);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(end, s.bytes.size());
    EXPECT_FALSE(d.Has("large.png"));
    EXPECT_EQ(d.File("next.png"), kMap);
}

TEST(BindImageSection, PlantedLinkIsReplacedNotFollowed) {
    ImageDoc d;
    const fs::path victim = d.root / "victim.txt";
    WriteBytes(victim, BytesOf("keep me"));
    fs::create_symlink(victim, d.work / "map.png");
    d.Load(PhotoAndMap().bytes);
    EXPECT_EQ(ReadBytes(victim), BytesOf("keep me"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(d.work / "map.png")));
    EXPECT_EQ(d.File("map.png"), kMap);
}

// Names that would lead out of the working folder, or that no file system
// should see, give an entry without a file, and no operation touches the disk
// for them. The folder "work/a" exists so that "a/../../x" would resolve.
TEST(BindImageSection, HostileNamesNeverReachTheFileSystem) {
    ImageDoc d;
    fs::create_directories(d.work / "a");
    const fs::path sentinel = d.root / "victim.gz";
    WriteBytes(sentinel, kPhotoGz);
    const std::vector<std::string> hostile = {
        "../victim.gz", "a/../../victim.gz", "..\\victim.gz", "/tmp/x", "C:x.png", "..", ".",
        "\x01..\x02/victim.gz",  // control characters are dropped on reading: "../victim.gz"
        "x|y.png",     "<a>.png", "\"q\".png"};
    Section s(static_cast<int32_t>(hostile.size() + 1));
    for (const auto& name : hostile) {
        s.Entry(name, Pattern(64));
        d.AddText(u"^@BM%temp%" + ChangePathExt(Utf8ToStr(name), u"") + u",1");
    }
    s.Entry("ok.png", kMap);
    d.AddText(u"^@BM%temp%ok.png,1");

    EXPECT_EQ(d.Load(s.bytes), s.bytes.size());
    EXPECT_EQ(d.doc.BindImageN, static_cast<int32_t>(hostile.size() + 1));
    EXPECT_EQ(d.File("ok.png"), kMap);
    // Every operation runs over the hostile entries without harm.
    d.doc.BindImageExplode();
    EXPECT_EQ(d.Save(), Section(1).Entry("ok.png", kMap).bytes);
    d.doc.BindImagePack();
    d.doc.BindImageCopy(Utf8ToStr(d.work.string() + "/a"));
    d.doc.BindImageDeleteGzFile();
    d.doc.BindImageDeleteNonGzFile();
    d.doc.BindImageDeleteFile();

    EXPECT_EQ(ReadBytes(sentinel), kPhotoGz);
    EXPECT_EQ(FolderNames(d.root.path()), (std::vector<std::string>{"victim.gz", "work"}));
    // What is left in the working folder: "a" with the copy of ok.png; ok.png
    // itself and its packed form were deleted with the entry.
    EXPECT_EQ(FolderNames(d.work), (std::vector<std::string>{"a"}));
    EXPECT_EQ(FolderNames(d.work / "a"), (std::vector<std::string>{"ok.png"}));
}

// UTF-16 drawings may carry surrogates outside a pair. Such a name has no
// file name of its own ("a\xD800" and "a\uFFFD", or U+DCC3 U+DCA9 and "é",
// would be one file), so it is no image name; a pair is.
TEST(IsSafeImageName, SurrogatesOnlyInPairs) {
    struct Row {
        std::u16string name;
        bool safe;
    } rows[] = {
        {u"a\xD800.png", false}, {u"\xDC00" u"a.png", false}, {u"a\xDCC3\xDCA9.png", false}, {u"a\xD800", false},
        {u"\U0001F600.png", true}, {u"写真é.png", true},     {u"a\uFFFD.png", true},
    };
    for (const Row& r : rows) EXPECT_EQ(IsSafeImageName(r.name), r.safe) << StrToUtf8(r.name);
}

// An image file the load could not write (here a name too long for the file
// system): left out quietly when no text shows it, as unused images are; a
// failed save, with the reason, when a text shows it.
TEST(BindImageSection, ImageTheLoadCouldNotWriteFailsTheSaveOnlyWhenShown) {
    const std::u16string longName = std::u16string(200, u'あ') + u".png";
    for (bool shown : {false, true}) {
        SCOPED_TRACE(shown);
        ImageDoc d;
        d.AddText(u"^@BM%temp%map.png,1");
        if (shown) d.AddText(u"^@BM%temp%" + longName + u",1");
        Section s(2);
        s.Entry16(longName, kPhoto).Entry("map.png", kMap);
        EXPECT_EQ(d.Load(s.bytes), s.bytes.size());
        EXPECT_EQ(d.File("map.png"), kMap);
        const Bytes out = d.Save(!shown);
        if (!shown) {
            EXPECT_EQ(out, Section(1).Entry("map.png", kMap).bytes);
        } else {
            EXPECT_NE(d.doc.LastFailure().Describe().find("could not be written into the working folder (File name too long)"),
                      std::string::npos)
                << d.doc.LastFailure().Describe();
        }
    }
}

// A document without a working folder (the window could not make one): an
// empty folder name must not turn the image names into names in the current
// folder, where the load, unpacking, saving and clean-up would overwrite, read
// or delete a user's files of those names. A text showing an image fails the
// save; without one the drawing saves with no images.
// A drawing of thousands of tiny images would fill the disk with files (and
// inodes) far beyond its own size: the load writes only so many, and an
// image beyond them fails the save only when a text shows it.
TEST(BindImageSection, ImagesBeyondTheFileLimitGetNoFile) {
    for (bool shown : {false, true}) {
        SCOPED_TRACE(shown);
        ImageDoc d;
        d.doc.SetImageFileLimitForTest(2);
        d.AddText(u"^@BM%temp%b.png,1");
        if (shown) d.AddText(u"^@BM%temp%c.png,1");
        Section s(5);
        s.Entry("a.png", kMap).Entry("", 0, {}).Entry("b.png", kMap).Entry("c.png", kMap).Entry("d.png", kMap);
        EXPECT_EQ(d.Load(s.bytes), s.bytes.size());
        EXPECT_EQ(d.doc.BindImageN, 5);
        EXPECT_TRUE(d.Has("a.png"));
        EXPECT_TRUE(d.Has("b.png"));
        EXPECT_FALSE(d.Has("c.png"));
        EXPECT_FALSE(d.Has("d.png"));
        const Bytes out = d.Save(!shown);
        if (!shown)
            EXPECT_EQ(out, Section(1).Entry("b.png", kMap).bytes);
        else
            EXPECT_NE(d.doc.LastFailure().Describe().find("bound image c.png was not written: the drawing holds more than 2 image files"),
                      std::string::npos)
                << d.doc.LastFailure().Describe();
    }
}

TEST(BindImageSection, NoFolderTouchesNoFileOfTheCurrentFolder) {
    TempFolder root;
    const fs::path here = root / "here";
    fs::create_directories(here);
    const Bytes mine = Pattern(100, 9);
    for (const char* name : {"photo.jpg.gz", "photo.jpg", "map.png"}) WriteBytes(here / name, mine);
    const fs::path before = fs::current_path();
    fs::current_path(here);
    struct Back {
        fs::path to;
        ~Back() { fs::current_path(to); }
    } back{before};

    for (bool shown : {false, true}) {
        SCOPED_TRACE(shown);
        TJwwData doc;
        doc.BindImageExp = doc.BindImageExr = true;
        TEntJwwMoji m;
        m.str = shown ? u"^@BM%temp%map.png,1" : u"平面図";
        doc.EntMoji.push_back(m);
        doc.EntNo.push_back({kKindMoji, doc.EntMojiN++});
        doc.Enthd.n1 = 1;
        const Section s = PhotoAndMap();
        ByteReader r(s.bytes);
        doc.ReadBindImageSection(r);
        EXPECT_EQ(r.position(), s.bytes.size());
        EXPECT_EQ(doc.BindImageN, 2);
        doc.BindImageExplode();
        doc.BindImagePack();
        doc.BindImageCopy(Utf8ToStr(here.string()));
        ByteWriter w;
        EXPECT_EQ(doc.WriteBindImageSection(w), !shown);
        if (shown)
            EXPECT_NE(doc.LastFailure().Describe().find("bound image map.png could not be written: there is no working folder"),
                      std::string::npos)
                << doc.LastFailure().Describe();
        else
            EXPECT_EQ(w.bytes(), Section(0).bytes);
        doc.BindImageDeleteFile();
        doc.BindImageDeleteGzFile();
        doc.BindImageDeleteNonGzFile();
        DeleteImageFilesByName(doc);
        for (const char* name : {"photo.jpg.gz", "photo.jpg", "map.png"}) EXPECT_EQ(ReadBytes(here / name), mine) << name;
        EXPECT_EQ(std::distance(fs::directory_iterator(here), fs::directory_iterator()), 3);
    }
}

TEST(BindImageSection, OversizeImageIsLeftOut) {
    ImageDoc d;
    d.AddText(u"^@BM%temp%huge.bin,1");
    d.AddText(u"^@BM%temp%map.png,1");
    d.doc.BindImage = {{u"huge.bin", 0, false}, {u"map.png", 0, false}};
    d.doc.BindImageN = 2;
    WriteBytes(d.work / "map.png", kMap);
    {
        // 2 GiB, sparse: the 32-bit signed size field cannot carry it.
        std::ofstream(d.work / "huge.bin").close();
        fs::resize_file(d.work / "huge.bin", uint64_t{1} << 31);
    }
    EXPECT_EQ(d.Save(), Section(1).Entry("map.png", kMap).bytes);
    EXPECT_FALSE(d.doc.BindImage[0].exf);
}

// A file that delivers fewer bytes than its size says: the kernel's attribute
// files announce a page and hold a line.
TEST(BindImageSection, ImageShorterThanItsSizeFailsTheSave) {
    const fs::path attr = "/sys/kernel/mm/transparent_hugepage/enabled";
    struct stat st {};
    if (::stat(attr.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ReadBytes(attr).size() >= static_cast<size_t>(st.st_size))
        GTEST_SKIP() << "no file whose size overstates its content";
    TJwwData doc;
    doc.BindImageFolder = Utf8ToStr(attr.parent_path().string() + "/");
    doc.BindImageExp = doc.BindImageExr = true;
    doc.BindImage = {{u"enabled", 0, false}};
    doc.BindImageN = 1;
    TEntJwwMoji m;
    m.str = u"^@BM%temp%enabled,1";
    doc.EntMoji.push_back(m);
    doc.EntMojiN = 1;
    doc.EntNo.push_back({kKindMoji, 0});
    doc.Enthd.n1 = 1;
    ByteWriter w;
    EXPECT_FALSE(doc.WriteBindImageSection(w));
    EXPECT_TRUE(doc.LastFailure().failed);
}

// ---- Unpacking -----------------------------------------------------------------------

namespace {

struct ExplodeCase {
    const char* label;
    std::string name;                 // entry name
    Bytes file;                       // the file's bytes in the working folder
    std::string target;               // the unpacked file's name
    std::optional<Bytes> unpacked;    // its content, or none when no file may remain
};

Bytes Concat(Bytes a, const Bytes& b) {
    Append(a, b);
    return a;
}

const Bytes kSmall = Pattern(1000, 7);
const Bytes kZeros4M(4u << 20, 0);
constexpr uint64_t kTestUnpackLimit = 1u << 20;

std::vector<ExplodeCase> ExplodeCases() {
    Bytes gz = Gzip(kPhoto);
    Bytes truncated(gz.begin(), gz.begin() + static_cast<ptrdiff_t>(gz.size() / 2));
    Bytes exactlyAtLimit(kTestUnpackLimit, 'x');
    return {
        {"one member", "photo.jpg.gz", gz, "photo.jpg", kPhoto},
        {"upper-case extension", "PHOTO.JPG.GZ", gz, "PHOTO.JPG", kPhoto},
        {"two members", "two.gz", Concat(gz, Gzip(kSmall)), "two", Concat(kPhoto, kSmall)},
        {"trailing bytes", "tail.gz", Concat(gz, BytesOf("padding")), "tail", kPhoto},
        {"not gzip", "plain.gz", Pattern(5000), "plain", std::nullopt},
        {"truncated", "cut.gz", truncated, "cut", std::nullopt},
        {"empty file", "empty.gz", {}, "empty", std::nullopt},
        {"bomb over the bound", "bomb.gz", Gzip(kZeros4M), "bomb", std::nullopt},
        {"exactly at the bound", "full.gz", Gzip(exactlyAtLimit), "full", exactlyAtLimit},
    };
}

}  // namespace

TEST(BindImageExplode, UnpacksGzipAndLeavesNoPartialFile) {
    for (const ExplodeCase& c : ExplodeCases()) {
        SCOPED_TRACE(c.label);
        ImageDoc d;
        d.doc.SetUnpackLimitForTest(kTestUnpackLimit);
        d.doc.BindImage = {{Utf8ToStr(c.name), static_cast<int32_t>(c.file.size()), false}};
        d.doc.BindImageN = 1;
        WriteBytes(d.work / c.name, c.file);
        WriteBytes(d.work / c.target, BytesOf("stale"));  // an old file of that name is replaced
        d.doc.BindImageExplode();
        if (c.unpacked)
            EXPECT_EQ(d.File(c.target), *c.unpacked);
        else
            EXPECT_FALSE(d.Has(c.target));
        EXPECT_EQ(d.File(c.name), c.file);  // the packed file stays
    }
}

TEST(BindImageExplode, MissingFilesAndPlainImagesAreSkipped) {
    ImageDoc d;
    d.doc.BindImage = {{u"gone.jpg.gz", 10, false}, {u"map.png", 10, false}};
    d.doc.BindImageN = 2;
    WriteBytes(d.work / "map.png", kMap);
    d.doc.BindImageExplode();
    EXPECT_EQ(FolderNames(d.work), (std::vector<std::string>{"map.png"}));
}

// An entry whose unpacked (or packed) name is another entry's name: that
// entry's stored file keeps its bytes, or it would be saved with the other's.
TEST(BindImageExplode, NeverWritesOverAnotherEntrysFile) {
    const struct {
        const char16_t* gz;
        const char16_t* plain;
    } cases[] = {{u"a.png.gz", u"a.png"}, {u"a.gz.gz", u"a.gz"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(StrToUtf8(c.gz));
        ImageDoc d;
        d.doc.BindImage = {{c.gz, 0, false}, {c.plain, 0, false}};
        d.doc.BindImageN = 2;
        WriteBytes(d.work / StrToUtf8(c.gz), kPhotoGz);
        WriteBytes(d.work / StrToUtf8(c.plain), kMap);
        d.doc.BindImageExplode();
        EXPECT_EQ(d.File(StrToUtf8(c.plain)), kMap);
        d.doc.BindImagePack();
        EXPECT_EQ(d.File(StrToUtf8(c.gz)), kPhotoGz);
        EXPECT_EQ(d.doc.BindImage[1].Fname, c.plain);
    }
}

// ---- Packing, copying, deleting ---------------------------------------------------------

TEST(BindImagePack, CompressesPlainImagesAndRenamesTheirEntries) {
    ImageDoc d;
    d.Load(PhotoAndMap().bytes);
    d.doc.BindImage.push_back({u"gone.png", 5, false});
    d.doc.BindImageN = 3;
    d.doc.BindImagePack();
    EXPECT_EQ(d.doc.BindImage[0].Fname, u"photo.jpg.gz");  // already packed
    EXPECT_EQ(d.doc.BindImage[1].Fname, u"map.png.gz");
    EXPECT_EQ(d.doc.BindImage[1].Fsize, static_cast<int32_t>(kMap.size()));  // unchanged
    EXPECT_EQ(d.doc.BindImage[2].Fname, u"gone.png");  // no file, no new name
    Bytes gz = d.File("map.png.gz");
    ASSERT_GE(gz.size(), 10u);
    EXPECT_EQ(gz[0], 0x1F);
    EXPECT_EQ(gz[1], 0x8B);
    EXPECT_EQ(gz[8], 2);  // extra flags: maximum compression
    EXPECT_EQ(Gunzip(gz), kMap);
    EXPECT_EQ(d.File("map.png"), kMap);  // the plain file stays
    EXPECT_FALSE(d.Has("gone.png.gz"));
}

TEST(BindImageCopy, CopiesTheUnpackedImagesIntoAFolder) {
    ImageDoc d;
    d.Load(PhotoAndMap().bytes);
    d.doc.BindImageExplode();
    const fs::path dst = d.root / "out";
    fs::create_directories(dst);
    WriteBytes(dst / "map.png", BytesOf("old"));
    d.doc.BindImageCopy(Utf8ToStr(dst.string()));  // no trailing separator
    EXPECT_EQ(FolderNames(dst), (std::vector<std::string>{"map.png", "photo.jpg"}));
    EXPECT_EQ(ReadBytes(dst / "photo.jpg"), kPhoto);
    EXPECT_EQ(ReadBytes(dst / "map.png"), kMap);
    // Into the working folder itself: the images stay whole.
    d.doc.BindImageCopy(d.doc.BindImageFolder);
    EXPECT_EQ(d.File("photo.jpg"), kPhoto);
    EXPECT_EQ(d.File("map.png"), kMap);
}

TEST(BindImageDelete, EachOperationRemovesItsFiles) {
    ImageDoc d;
    d.Load(PhotoAndMap().bytes);
    d.doc.BindImageExplode();
    WriteBytes(d.work / "other.txt", BytesOf("not an image"));
    using Names = std::vector<std::string>;
    d.doc.BindImageDeleteGzFile();
    EXPECT_EQ(FolderNames(d.work), (Names{"map.png", "other.txt", "photo.jpg"}));
    d.doc.BindImageDeleteNonGzFile();
    EXPECT_EQ(FolderNames(d.work), (Names{"other.txt"}));

    d.Load(PhotoAndMap().bytes);
    d.doc.BindImageExplode();
    d.doc.BindImageDeleteFile();  // the stored files only
    EXPECT_EQ(FolderNames(d.work), (Names{"other.txt", "photo.jpg"}));
    EXPECT_EQ(d.doc.BindImageN, 2);
    d.doc.BindImageInit();
    EXPECT_EQ(d.doc.BindImageN, 0);
    EXPECT_TRUE(d.doc.BindImage.empty());
}

// The bound holds for all images of a drawing together: many small bombs
// cannot fill the disk one at a time. An image that would pass what is left
// is not unpacked; a smaller one behind it still is.
// What a failed unpacking wrote counts against the bound too, and a name
// listed again is unpacked once: entries of nine bytes must not unpack one
// stored bomb again and again (each time up to the bound, then deleting it).
TEST(BindImageExplode, FailuresSpendTheBoundAndRepeatedNamesUnpackOnce) {
    {
        ImageDoc d;
        d.doc.SetUnpackLimitForTest(kTestUnpackLimit);
        WriteBytes(d.work / "bomb.gz", Gzip(Bytes(3 * kTestUnpackLimit / 2, 0)));
        WriteBytes(d.work / "small.gz", Gzip(Bytes(1000, 's')));
        d.doc.BindImage = {{u"bomb.gz", 0, false}, {u"small.gz", 0, false}};
        d.doc.BindImageN = 2;
        d.doc.BindImageExplode();
        EXPECT_FALSE(d.Has("bomb"));
        EXPECT_FALSE(d.Has("small"));  // the bomb spent the bound
    }
    {
        ImageDoc d;
        d.doc.SetUnpackLimitForTest(kTestUnpackLimit);
        const Bytes big(kTestUnpackLimit - 1000, 'b');
        WriteBytes(d.work / "a.gz", Gzip(big));
        d.doc.BindImage = {{u"a.gz", 0, false}, {u"a.gz", 0, false}, {u"a.gz", 0, false}};
        d.doc.BindImageN = 3;
        d.doc.BindImageExplode();
        EXPECT_EQ(d.File("a"), big);  // a second unpacking over the bound would have removed it
    }
}

// Entries the load wrote no file for (no data here) are passed by: a list of
// millions of them must not cost an open or an unlink each. Files of their
// names that the load did not make stay as they are.
TEST(BindImageExplode, EntriesTheLoadMadeNoFileForArePassedBy) {
    ImageDoc d;
    d.AddText(u"^@BM%temp%map.png,1");
    WriteBytes(d.work / "x.png", kMap);
    WriteBytes(d.work / "y.gz", kPhotoGz);
    Section s(3);
    s.Entry("x.png", 0, {}).Entry("y.gz", 0, {}).Entry("map.png", kMap);
    d.Load(s.bytes);
    EXPECT_FALSE(d.doc.ImageFileMayExist(0));
    EXPECT_FALSE(d.doc.ImageFileMayExist(1));
    EXPECT_TRUE(d.doc.ImageFileMayExist(2));
    EXPECT_TRUE(d.doc.ImageFileMayExist(3));  // no entry of the load
    d.doc.BindImageExplode();
    d.doc.BindImagePack();
    EXPECT_FALSE(d.Has("y"));
    EXPECT_FALSE(d.Has("x.png.gz"));
    EXPECT_TRUE(d.Has("map.png.gz"));
    d.doc.BindImageDeleteFile();
    d.doc.BindImageDeleteNonGzFile();
    DeleteImageFilesByName(d.doc);
    EXPECT_EQ(FolderNames(d.work), (std::vector<std::string>{"x.png", "y.gz"}));
}

TEST(BindImageExplode, BoundHoldsForAllImagesTogether) {
    ImageDoc d;
    d.doc.SetUnpackLimitForTest(kTestUnpackLimit);
    const Bytes part(400 * 1024, 'z'), small(100 * 1024, 's');
    for (const char* name : {"a.gz", "b.gz", "c.gz"}) WriteBytes(d.work / name, Gzip(part));
    WriteBytes(d.work / "d.gz", Gzip(small));
    d.doc.BindImage = {{u"a.gz", 0, false}, {u"b.gz", 0, false}, {u"c.gz", 0, false}, {u"d.gz", 0, false}};
    d.doc.BindImageN = 4;
    d.doc.BindImageExplode();
    EXPECT_EQ(d.File("a"), part);
    EXPECT_EQ(d.File("b"), part);
    EXPECT_FALSE(d.Has("c"));
    EXPECT_EQ(d.File("d"), small);
}
