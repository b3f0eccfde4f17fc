// Path parts, free file names and the guarded file and folder operations.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "support/Func_2.h"

using namespace morvane;
namespace fs = std::filesystem;

namespace {

const std::u16string kSep(1, DirSeparatorChar());

// A fresh folder per test, removed afterwards.
class PathsOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = fs::temp_directory_path() /
                ("morvane_paths_" + std::to_string(::getpid()) + "_" + info->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    std::u16string path(const std::string& rel) const { return Utf8ToStr((root_ / rel).string()); }
    void touch(const std::string& rel) const { std::ofstream(root_ / rel) << "x"; }

    fs::path root_;
};

}  // namespace

TEST(PathParts, Separators) {
#ifdef _WIN32
    EXPECT_EQ(DirSeparatorChar(), u'\\');
#else
    EXPECT_EQ(DirSeparatorChar(), u'/');
#endif
    EXPECT_EQ(AddTrailingSeparator(u"C:\\d"), u"C:\\d" + kSep);
    EXPECT_EQ(AddTrailingSeparator(u"/home/u"), u"/home/u" + kSep);
    EXPECT_EQ(AddTrailingSeparator(u"C:/d/"), u"C:/d/");
    EXPECT_EQ(AddTrailingSeparator(u""), kSep);
#ifdef _WIN32
    EXPECT_EQ(AddTrailingSeparator(u"C:\\d\\"), u"C:\\d\\");
#else
    // A folder whose name ends in a backslash still gets its separator: without it
    // the files would land beside the folder.
    EXPECT_EQ(AddTrailingSeparator(u"out\\"), u"out\\/");
#endif
}

TEST(PathParts, InvalidCharacters) {
    for (std::u16string p : {u"a\"b", u"a<b", u"a>b", u"a|b", u"a\tb", u"a\x1F" u"b"}) EXPECT_TRUE(HasInvalidPathChar(p));
    for (std::u16string p : {u"", u"C:\\a b\\c.jww", u"/tmp/a*b?.jww", u"\u56F3\u9762.jww"}) EXPECT_FALSE(HasInvalidPathChar(p));
}

TEST(PathParts, ExtractFileNameSafe) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"C:\\img\\a.jpg", u"a.jpg"},  {u"/home/u/img/a.jpg", u"a.jpg"}, {u"%temp%a.jpg", u"%temp%a.jpg"},
        {u"C:a.jpg", u"a.jpg"},         {u"C:\\img\\", u""},               {u"img/", u""},
        {u"C:\\img\\a|b.jpg", u""},     {u" \u3000\t", u""},               {u"", u""},
        {u"d\\e/f.jpg", u"f.jpg"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(ExtractFileNameSafe(in), out) << StrToUtf8(in);
}

TEST(PathParts, LowerExtOfPath) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"a.JPG.GZ", u".gz"},       {u"C:\\dir.x\\file", u""}, {u"/home/dir.x/file", u""}, {u"readme.", u"."},
        {u"", u""},                  {u"noext", u""},           {u"C:\\d\\A.JWW", u".jww"},  {u"x.y:z", u".y:z"},
        {u".bashrc", u".bashrc"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(LowerExtOfPath(in), out) << StrToUtf8(in);
    EXPECT_THROW(LowerExtOfPath(u"a|b.jpg"), InvalidPathError);
    EXPECT_THROW(LowerExtOfPath(u"a.jpg\n"), std::invalid_argument);
}

TEST(PathParts, ChangePathExt) {
    struct Case {
        std::u16string path, ext, expected;
    };
    const Case cases[] = {
        {u"C:\\dir.x\\file", u".dat", u"C:\\dir.x\\file.dat"},
        {u"/home/dir.x/file", u".dat", u"/home/dir.x/file.dat"},
        {u"a.jpg.gz", u"", u"a.jpg"},
        {u"C:\\p\\Prog.exe", u".dat", u"C:\\p\\Prog.dat"},
        {u"C:file", u".x", u"C:file.x"},
        {u"a.b:c", u".x", u"a.b:c.x"},
        {u"", u".dat", u""},
        {u"name.", u"", u"name"},
    };
    for (const Case& c : cases) EXPECT_EQ(ChangePathExt(c.path, c.ext), c.expected) << StrToUtf8(c.path);
}

TEST(UniqueName, NumbersBeforeTheLowerCaseExtension) {
    std::set<std::u16string> taken;
    auto exists = [&](std::u16string_view p) { return taken.count(std::u16string(p)) > 0; };
    struct Case {
        std::set<std::u16string> existing;
        std::u16string name, expected;
    };
    const Case cases[] = {
        {{}, u"C:\\out\\A.JWW", u"C:\\out\\A.JWW"},
        {{u"C:\\out\\A.JWW"}, u"C:\\out\\A.JWW", u"C:\\out\\A~1.jww"},
        {{u"C:\\d\\x.jww", u"C:\\d\\x~1.jww"}, u"C:\\d\\x.jww", u"C:\\d\\x~2.jww"},
        {{u"C:\\out\\plan"}, u"C:\\out\\plan", u"C:\\out\\plan~1"},
        {{u"C:\\out\\a.b.jww"}, u"C:\\out\\a.b.jww", u"C:\\out\\a.b~1.jww"},
        {{u"/out/v1.2/plan"}, u"/out/v1.2/plan", u"/out/v1.2/plan~1"},
        {{}, u"", u""},
    };
    for (const Case& c : cases) {
        taken = c.existing;
        EXPECT_EQ(MakeUniqueFileName(c.name, exists), c.expected) << StrToUtf8(c.name);
    }
}

TEST(UniqueName, NoFreeNameGivesEmpty) {
    int calls = 0;
    auto allTaken = [&](std::u16string_view) { return ++calls, true; };
    EXPECT_EQ(MakeUniqueFileName(u"/out/a.jww", allTaken), u"");
    EXPECT_EQ(calls, 1 + 99999);
    auto onlyLastFree = [](std::u16string_view p) { return p != u"/out/a~99999.jww"; };
    EXPECT_EQ(MakeUniqueFileName(u"/out/a.jww", onlyLastFree), u"/out/a~99999.jww");
    auto takenName = [](std::u16string_view) { return true; };
    EXPECT_THROW(MakeUniqueFileName(u"/out/a<b.jww", takenName), InvalidPathError);
}

// Many files of one name in one run: each search goes on from the numbers
// found taken before, and still takes a number that stayed free (a drawing
// that failed wrote nothing under it).
TEST(UniqueName, SearchGoesOnFromWhatWasFoundTaken) {
    std::set<std::u16string> taken = {u"/o/a.jww", u"/o/a~1.jww", u"/o/a~2.jww"};
    int calls = 0;
    auto exists = [&](std::u16string_view p) { return ++calls, taken.count(std::u16string(p)) > 0; };
    int takenUpTo = -1;
    const struct {
        const char16_t* expected;
        int calls;
        bool written;
    } steps[] = {
        {u"/o/a~3.jww", 4, true},   // the name, ~1, ~2, ~3
        {u"/o/a~4.jww", 2, false},  // ~3 now written, ~4 free; not written
        {u"/o/a~4.jww", 1, true},   // ~4 is still free
        {u"/o/a~5.jww", 2, true},
    };
    for (const auto& step : steps) {
        calls = 0;
        const std::u16string got = MakeUniqueFileName(u"/o/a.jww", exists, takenUpTo);
        EXPECT_EQ(got, step.expected);
        EXPECT_EQ(calls, step.calls) << StrToUtf8(got);
        if (step.written) taken.insert(got);
    }
    int fresh = -1;
    EXPECT_EQ(MakeUniqueFileName(u"/o/b.jww", exists, fresh), u"/o/b.jww");
    EXPECT_EQ(fresh, -1);  // the free name itself: nothing known taken
}

TEST_F(PathsOnDisk, UniqueNameOnDisk) {
    touch("x.jww");
    touch("x~1.jww");
    fs::create_directory(root_ / "x~2.jww");            // a folder takes the name too
    fs::create_symlink(root_ / "missing", root_ / "x~3.jww");  // and so does a dangling link
    EXPECT_EQ(MakeUniqueFileName(path("x.jww")), path("x~4.jww"));
    EXPECT_EQ(MakeUniqueFileName(path("free.JWW")), path("free.JWW"));
}

TEST_F(PathsOnDisk, ExistenceTests) {
    touch("f.txt");
    fs::create_directory(root_ / "d");
    fs::create_symlink(root_ / "f.txt", root_ / "link");
    EXPECT_TRUE(PathFileExists(path("f.txt")));
    EXPECT_TRUE(PathFileExists(path("link")));
    EXPECT_FALSE(PathFileExists(path("d")));
    EXPECT_FALSE(PathFileExists(path("none")));
    EXPECT_FALSE(PathFileExists(u""));
    EXPECT_TRUE(PathFolderExists(path("d")));
    EXPECT_FALSE(PathFolderExists(path("f.txt")));
    EXPECT_FALSE(PathFolderExists(u""));
}

TEST_F(PathsOnDisk, NonAsciiNamesReachTheFileSystem) {
    const std::u16string name = path("") + u"\u56F3\u9762 \U0001F600.jww";
    std::ofstream(ToFsPath(name)) << "x";
    EXPECT_TRUE(fs::exists(root_ / "\xE5\x9B\xB3\xE9\x9D\xA2 \xF0\x9F\x98\x80.jww"));
    EXPECT_TRUE(PathFileExists(name));
    EXPECT_EQ(NativePath(name), StrToUtf8(name));
}

TEST_F(PathsOnDisk, CreateFolder) {
    EXPECT_TRUE(TryCreateFolder(path("a/b/c")));
    EXPECT_TRUE(fs::is_directory(root_ / "a/b/c"));
    EXPECT_TRUE(TryCreateFolder(path("a/b/c")));  // already there
    touch("file");
    EXPECT_FALSE(TryCreateFolder(path("file")));
    EXPECT_FALSE(TryCreateFolder(path("file/sub")));
    EXPECT_FALSE(TryCreateFolder(path("bad|name")));
    EXPECT_FALSE(fs::exists(root_ / "bad|name"));
    EXPECT_FALSE(TryCreateFolder(u""));
}

TEST_F(PathsOnDisk, DeleteFile) {
    touch("f");
    fs::create_directory(root_ / "d");
    fs::create_symlink(root_ / "f", root_ / "link");
    EXPECT_TRUE(TryDeleteFile(path("link")));  // the link goes, not its target
    EXPECT_TRUE(fs::exists(root_ / "f"));
    EXPECT_TRUE(TryDeleteFile(path("f")));
    EXPECT_FALSE(fs::exists(root_ / "f"));
    EXPECT_FALSE(TryDeleteFile(path("f")));
    EXPECT_FALSE(TryDeleteFile(path("d")));  // never a folder
    EXPECT_TRUE(fs::exists(root_ / "d"));
    EXPECT_FALSE(TryDeleteFile(path("none/f")));
    EXPECT_FALSE(TryDeleteFile(u""));
}

TEST_F(PathsOnDisk, RemoveOnlyAnEmptyFolder) {
    fs::create_directories(root_ / "full");
    touch("full/keep");
    fs::create_directories(root_ / "nested/sub");
    fs::create_directory(root_ / "empty");
    touch("file");
    fs::create_directory_symlink(root_ / "empty", root_ / "dirlink");
    EXPECT_FALSE(TryRemoveFolder(path("full")));
    EXPECT_TRUE(fs::exists(root_ / "full/keep"));
    EXPECT_FALSE(TryRemoveFolder(path("nested")));
    EXPECT_FALSE(TryRemoveFolder(path("file")));
    EXPECT_FALSE(TryRemoveFolder(path("dirlink")));
    EXPECT_TRUE(fs::exists(root_ / "dirlink"));
    EXPECT_FALSE(TryRemoveFolder(path("none")));
    EXPECT_FALSE(TryRemoveFolder(u""));
    EXPECT_TRUE(TryRemoveFolder(path("empty")));
    EXPECT_FALSE(fs::exists(root_ / "empty"));
}
