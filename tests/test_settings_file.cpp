// The settings file: all 113 positional lines, encodings, click-like
// normalisation, hostile files and complete-or-absent writes; and where the
// settings file and the working folder live.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <random>

#include "TempFolder.h"
#include "app/AppPaths.h"
#include "app/OptionControls.h"
#include "app/SettingsFile.h"

using namespace morvane;

namespace {

const std::u16string kProgramFolder = u"/opt/morvane/";

std::string Lines(std::initializer_list<const char*> lines, const char* eol = "\r\n") {
    std::string out;
    for (const char* l : lines) out += std::string(l) + eol;
    return out;
}

// A settings set in which every member differs from its default and from
// every other member, and that is already normalised (no pair doubly checked).
AppSettings EveryLineSet() {
    AppSettings a;
    a.Fm1x = -7, a.Fm1y = 0, a.Fm1w = 1234, a.Fm1h = 99999;
    CheckDestination(a, DestinationMode::ChosenFolder);
    a.EditFl1 = u"/home/u/出力/";
    a.Label1 = u"";  // empty texts survive too
    a.Fidx = 2;
    a.LabelPreFolder = u"/tmp/前回/";
    a.gstyle = u"Luna";
    BatchSettings& b = a.batch;
    b.CB01 = b.CB02 = b.CB03 = b.CB05 = b.CB06 = b.CB09 = b.CB10 = b.CB11 = true;
    b.CB13 = b.CB14 = b.CB17 = b.CB19 = b.CB20 = b.CB21 = true;
    b.ED01 = u"上段メモ", b.ED02 = u"lower", b.CX01 = 11, b.CX02 = 1, b.ED30 = u"-0.5";
    for (int pen = 1; pen <= 8; ++pen) {
        b.ScreenWidth(pen) = IntToDecStr(pen + 90);  // "99" etc.: out of range survives
        b.PrinterWidth(pen) = IntToDecStr(pen * 100);
    }
    for (int n = 1; n <= 19; ++n) {
        b.Component('R', n) = IntToDecStr(n);
        b.Component('G', n) = IntToDecStr(300 + n);
        b.Component('B', n) = n == 7 ? u"abc" : IntToDecStr(-n);
    }
    return a;
}

TEST(SettingsFile, RoundTripRestoresEveryLine) {
    TempFolder tmp;
    AppSettings saved = EveryLineSet();
    ASSERT_TRUE(SaveDatFile(tmp.U("m.dat"), saved));
    AppSettings read;
    ASSERT_TRUE(OpenDatFile(tmp.U("m.dat"), kProgramFolder, read));
    EXPECT_EQ(read, saved);
}

TEST(SettingsFile, WrittenLayout) {
    TempFolder tmp;
    ASSERT_TRUE(SaveDatFile(tmp.U("m.dat"), EveryLineSet()));
    std::string bytes = ReadFile(tmp.path() / "m.dat");
    ASSERT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
    ASSERT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    std::vector<std::string> lines;
    for (size_t p = 3, e; (e = bytes.find("\r\n", p)) != std::string::npos; p = e + 2)
        lines.push_back(bytes.substr(p, e - p));
    ASSERT_EQ(lines.size(), 113u);
    EXPECT_EQ(bytes.find('\n'), bytes.find("\r\n") + 1);  // no bare LF anywhere
    const std::pair<int, std::string> expected[] = {
        {1, "-7"},   {4, "99999"}, {5, "0"},        {8, "1"},     {9, "/home/u/出力/"}, {10, ""},
        {11, "2"},   {12, "/tmp/前回/"}, {14, "上段メモ"}, {18, "11"},   {19, "0"},   {20, "1"},
        {26, "91"},  {33, "98"},   {35, "100"},     {42, "800"},  {45, "1"},     {51, "-0.5"},
        {54, "1"},   {55, "301"},  {56, "-1"},      {74, "abc"},  {108, "19"},   {110, "-19"},
        {111, "0"},  {112, "Luna"}, {113, "1"},
    };
    for (const auto& [line, text] : expected) EXPECT_EQ(lines[line - 1], text) << "line " << line;
}

TEST(SettingsFile, MissingAndShortFilesKeepDefaults) {
    TempFolder tmp;
    AppSettings a;
    a.Fm1x = 1;
    EXPECT_FALSE(OpenDatFile(tmp.U("none.dat"), kProgramFolder, a));
    AppSettings defaults;
    defaults.LabelPreFolder = kProgramFolder;
    EXPECT_EQ(a, defaults);

    tmp.Write("four.dat", Lines({"10", "20", "300", "400"}));
    ASSERT_TRUE(OpenDatFile(tmp.U("four.dat"), kProgramFolder, a));
    AppSettings expected = defaults;
    expected.Fm1x = 10, expected.Fm1y = 20, expected.Fm1w = 300, expected.Fm1h = 400;
    EXPECT_EQ(a, expected);
    EXPECT_TRUE(a.RadioButtonFl1);
}

// Builds a file of `count` lines, all "0" or empty, with the given lines set.
std::string FileWith(std::initializer_list<std::pair<int, const char*>> set, int count = 113) {
    std::vector<std::string> lines(count, "");
    for (int i : {5, 6, 7, 8, 111}) lines[i - 1] = "0";
    for (const auto& [line, text] : set) lines[line - 1] = text;
    std::string out = "\xEF\xBB\xBF";
    for (const std::string& l : lines) out += l + "\r\n";
    return out;
}

TEST(SettingsFile, BoxesReadAsIfClicked) {
    struct Row {
        const char* name;
        std::string file;
        std::function<void(const AppSettings&)> check;
    };
    const Row rows[] = {
        {"pair: the later line wins", FileWith({{19, "1"}, {20, "1"}}),
         [](const AppSettings& a) { EXPECT_FALSE(a.batch.CB04); EXPECT_TRUE(a.batch.CB05); }},
        {"triple: the last line wins", FileWith({{48, "1"}, {49, "1"}, {50, "1"}}),
         [](const AppSettings& a) {
             EXPECT_FALSE(a.batch.CB16); EXPECT_FALSE(a.batch.CB17); EXPECT_TRUE(a.batch.CB18);
         }},
        {"all destination flags 0: none checked", FileWith({}),
         [](const AppSettings& a) {
             EXPECT_FALSE(a.RadioButtonFl1 || a.RadioButtonFl2 || a.RadioButtonFl3 || a.RadioButtonFl4 ||
                          a.RadioButtonFl5);
             EXPECT_EQ(CheckedDestination(a), DestinationMode::AskEachRun);
         }},
        {"two destinations: the later one", FileWith({{5, "1"}, {7, "1"}}),
         [](const AppSettings& a) {
             EXPECT_FALSE(a.RadioButtonFl1); EXPECT_TRUE(a.RadioButtonFl3);
             EXPECT_EQ(CheckedDestination(a), DestinationMode::SourceFolder);
         }},
        {"毎回指定 on line 111 unchecks the desktop", FileWith({{5, "1"}, {111, "1"}}),
         [](const AppSettings& a) { EXPECT_FALSE(a.RadioButtonFl1); EXPECT_TRUE(a.RadioButtonFl5); }},
        {"TRUE, on and ○ are checked; yes and ' 1' are not",
         FileWith({{13, "TRUE"}, {15, "on"}, {17, "○"}, {25, "yes"}, {34, " 1"}}),
         [](const AppSettings& a) {
             EXPECT_TRUE(a.batch.CB01); EXPECT_TRUE(a.batch.CB02); EXPECT_TRUE(a.batch.CB03);
             EXPECT_FALSE(a.batch.CB10); EXPECT_FALSE(a.batch.CB11);
         }},
        {"malformed numbers are 0", FileWith({{1, "12px"}, {11, "$10"}, {18, "x"}}),
         [](const AppSettings& a) {
             EXPECT_EQ(a.Fm1x, 0); EXPECT_EQ(a.Fidx, 16); EXPECT_EQ(a.batch.CX01, 0);
         }},
    };
    TempFolder tmp;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        tmp.Write("s.dat", r.file);
        AppSettings a;
        ASSERT_TRUE(OpenDatFile(tmp.U("s.dat"), kProgramFolder, a));
        r.check(a);
    }
}

TEST(SettingsFile, Encodings) {
    const std::u16string memo = u"図面ｱ";
    ByteBuffer sjis = StrToAnsiBytes(memo);
    std::string utf16le = "\xFF\xFE", utf16be = "\xFE\xFF";
    for (char16_t c : u"1\r\n2\r\n3\r\n4\r\n1\r\n0\r\n0\r\n0\r\n\r\n\r\n1\r\n\r\n1\r\n図面ｱ\r\n") {
        if (c == 0) break;
        utf16le += static_cast<char>(c & 0xFF), utf16le += static_cast<char>(c >> 8);
        utf16be += static_cast<char>(c >> 8), utf16be += static_cast<char>(c & 0xFF);
    }
    std::string shiftJis = Lines({"1", "2", "3", "4", "1", "0", "0", "0", "", "", "1", "", "1"}) +
                           std::string(sjis.begin(), sjis.end()) + "\r\n";
    // Line ends CR only and LF only are line ends too.
    std::string utf8Lf = "\xEF\xBB\xBF" + Lines({"1", "2", "3", "4", "1", "0", "0", "0", "", "", "1", "", "1",
                                                 "図面ｱ"}, "\n");
    std::string utf8Cr = "\xEF\xBB\xBF" + Lines({"1", "2", "3", "4", "1", "0", "0", "0", "", "", "1", "", "1",
                                                 "図面ｱ"}, "\r");
    TempFolder tmp;
    for (const auto& [name, bytes] : {std::pair{"UTF-16 LE", utf16le}, {"UTF-16 BE", utf16be},
                                      {"Shift_JIS", shiftJis}, {"UTF-8 LF", utf8Lf}, {"UTF-8 CR", utf8Cr}}) {
        SCOPED_TRACE(name);
        tmp.Write("e.dat", bytes);
        AppSettings a;
        ASSERT_TRUE(OpenDatFile(tmp.U("e.dat"), kProgramFolder, a));
        EXPECT_EQ(a.Fm1h, 4);
        EXPECT_TRUE(a.batch.CB01);
        EXPECT_EQ(a.batch.ED01, memo);
        EXPECT_TRUE(a.RadioButtonFl1);
    }
}

TEST(SettingsFile, HostileFilesGiveDefaultsOrTheReadableLines) {
    std::mt19937 rng(7);
    std::string garbage(64 * 1024, '\0');
    for (char& c : garbage) c = static_cast<char>(rng());
    std::string manyLines;
    for (int i = 0; i < 10000; ++i) manyLines += "7\r\n";
    AppSettings defaults;
    defaults.LabelPreFolder = kProgramFolder;

    struct Row {
        const char* name;
        std::string bytes;
        std::function<void(const AppSettings&)> check;
    };
    const Row rows[] = {
        {"binary garbage", garbage, [](const AppSettings&) {}},  // anything, but no crash
        {"10000 lines: only the first 113 count", manyLines,
         [](const AppSettings& a) {
             EXPECT_EQ(a.Fm1x, 7);
             EXPECT_EQ(a.batch.EDB19, u"7");  // line 110
             EXPECT_EQ(a.gstyle, u"7");       // line 112
         }},
        {"a 1 MB line", "\xEF\xBB\xBF" "5\r\n" + std::string(1 << 20, 'x') + "\r\n1\r\n",
         [](const AppSettings& a) {
             EXPECT_EQ(a.Fm1x, 5);
             EXPECT_EQ(a.Fm1y, 0);
             EXPECT_EQ(a.Fm1w, 1);
         }},
        {"invalid UTF-8", "\xEF\xBB\xBF" "8\r\n\xC3\x28\xFF\xFE\xED\xA0\x80\r\n3\r\n",
         [](const AppSettings& a) {
             EXPECT_EQ(a.Fm1x, 8);
             EXPECT_EQ(a.Fm1w, 3);
         }},
        {"odd-length UTF-16", std::string("\xFF\xFE" "9\0\r\0\n\0" "5", 9),
         [](const AppSettings& a) { EXPECT_EQ(a.Fm1x, 9); }},
        {"over the size cap", std::string(static_cast<size_t>(kMaxSettingsFileBytes) + 1, '1'),
         [&](const AppSettings& a) { EXPECT_EQ(a, defaults); }},
    };
    TempFolder tmp;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        tmp.Write("h.dat", r.bytes);
        AppSettings a;
        OpenDatFile(tmp.U("h.dat"), kProgramFolder, a);
        r.check(a);
    }
    // A folder at the path is no settings file.
    std::filesystem::create_directories(tmp.path() / "d.dat");
    AppSettings a;
    EXPECT_FALSE(OpenDatFile(tmp.U("d.dat"), kProgramFolder, a));
    EXPECT_EQ(a, defaults);
}

TEST(SettingsFile, WriteIsCompleteOrAbsent) {
    TempFolder tmp;
    AppSettings a = EveryLineSet();
    // A folder that does not exist: nothing is written anywhere.
    EXPECT_FALSE(SaveDatFile(tmp.U("missing/m.dat"), a));
    EXPECT_FALSE(std::filesystem::exists(tmp.path() / "missing"));

    // A replaced file keeps its mode, and no temporary file stays beside it.
    tmp.Write("m.dat", "old");
    ::chmod((tmp.path() / "m.dat").c_str(), 0640);
    ASSERT_TRUE(SaveDatFile(tmp.U("m.dat"), a));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 1);
    struct stat st {};
    ASSERT_EQ(::stat((tmp.path() / "m.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // A folder in the way of the rename: the write fails and leaves nothing.
    std::filesystem::create_directories(tmp.path() / "busy.dat" / "x");
    EXPECT_FALSE(SaveDatFile(tmp.U("busy.dat"), a));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 2);
}

TEST(SettingsFile, LineBreaksInTextsDoNotShiftLines) {
    TempFolder tmp;
    AppSettings a;
    a.LabelPreFolder = u"/tmp/a\nb/";
    a.EditFl1 = u"x\r\ny";
    a.gstyle = u"Luna";
    ASSERT_TRUE(SaveDatFile(tmp.U("m.dat"), a));
    AppSettings b;
    ASSERT_TRUE(OpenDatFile(tmp.U("m.dat"), kProgramFolder, b));
    EXPECT_EQ(b.LabelPreFolder, u"/tmp/ab/");
    EXPECT_EQ(b.EditFl1, u"xy");
    EXPECT_EQ(b.gstyle, u"Luna");
}

// Folder names that are no UTF-8 (Shift_JIS names from a Windows archive)
// come back with their bytes; a text line's odd bytes still read as U+FFFD.
TEST(SettingsFile, FolderNamesKeepTheirBytes) {
    TempFolder tmp;
    AppSettings a;
    a.EditFl1 = NativeToStr("/tmp/\x90\x7d\x96\xca");
    a.Label1 = NativeToStr("/tmp/\x83\x65/");
    a.LabelPreFolder = NativeToStr("/tmp/\xff/");
    a.batch.ED01 = u"図面";
    ASSERT_TRUE(SaveDatFile(tmp.U("f.dat"), a));
    AppSettings b;
    ASSERT_TRUE(OpenDatFile(tmp.U("f.dat"), kProgramFolder, b));
    EXPECT_EQ(StrToNative(b.EditFl1), "/tmp/\x90\x7d\x96\xca");
    EXPECT_EQ(StrToNative(b.Label1), "/tmp/\x83\x65/");
    EXPECT_EQ(StrToNative(b.LabelPreFolder), "/tmp/\xff/");
    EXPECT_EQ(b.batch.ED01, u"図面");

    tmp.Write("g.dat", "\xEF\xBB\xBF" + Lines({"1", "2", "3", "4", "1", "0", "0", "0", "", "", "1", "", "1",
                                                "a\xE3\x81z\xFF"}));
    AppSettings c;
    ASSERT_TRUE(OpenDatFile(tmp.U("g.dat"), kProgramFolder, c));
    EXPECT_EQ(c.batch.ED01, u"a\uFFFDz\uFFFD");
}

TEST(AppPaths, SettingsFileBesideAWritableProgramElseInXdgConfig) {
    TempFolder tmp;
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", (tmp.path() / "cfg").c_str(), 1);
    EXPECT_EQ(SettingsFilePathFor(tmp.U("bin/morvane")), tmp.U("cfg/morvane/morvane.dat"));
    ASSERT_TRUE(CreateSettingsFolder(tmp.U("cfg/morvane/morvane.dat")));
    EXPECT_TRUE(std::filesystem::is_directory(tmp.path() / "cfg" / "morvane"));
    old ? ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    std::filesystem::create_directories(tmp.path() / "bin");
    EXPECT_EQ(SettingsFilePathFor(tmp.U("bin/morvane")), tmp.U("bin/morvane.dat"));
    EXPECT_EQ(SettingsFilePathFor(tmp.U("bin/morvane.exe")), tmp.U("bin/morvane.dat"));
    EXPECT_EQ(ProgramFolderOf(tmp.U("bin/morvane")), tmp.U("bin") + u"/");
    EXPECT_EQ(ProgramFolderOf(u"morvane"), u"");
}

TEST(AppPaths, WorkingFoldersArePrivateAndTidied) {
    TempFolder tmp;
    const std::u16string program = tmp.U("prog") + u"/";
    std::filesystem::create_directories(tmp.path() / "prog");
    {
        auto a = WorkingFolder::Create(program);
        auto b = WorkingFolder::Create(program);
        ASSERT_TRUE(a && b);
        EXPECT_NE(a->Path(), b->Path());
        EXPECT_EQ(a->Path().rfind(program + u"TEMP/morvane-", 0), 0u);
        EXPECT_EQ(a->Path().back(), u'/');
        struct stat st {};
        ASSERT_EQ(::stat(NativePath(a->Path()).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        tmp.Write("prog/TEMP/" + StrToUtf8(ExtractFileNameSafe(b->Path().substr(0, b->Path().size() - 1))) +
                      "/left.png",
                  "x");
    }
    // The empty one went; the one holding a file stays, and so does TEMP.
    auto entries = std::distance(std::filesystem::directory_iterator(tmp.path() / "prog" / "TEMP"), {});
    EXPECT_EQ(entries, 1);
    std::filesystem::remove_all(tmp.path() / "prog" / "TEMP");
    { auto c = WorkingFolder::Create(program); }
    EXPECT_FALSE(std::filesystem::exists(tmp.path() / "prog" / "TEMP"));

    // A program folder that cannot take files: the system's temporary folder.
    auto d = WorkingFolder::Create(tmp.U("nowhere") + u"/");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->Path().find(u"nowhere"), std::u16string::npos);

    // ... which is never made: a $TMPDIR that does not exist gives no working folder.
    const char* saved = std::getenv("TMPDIR");
    const std::string keep = saved ? saved : "";
    ::setenv("TMPDIR", (tmp.path() / "missing").c_str(), 1);
    EXPECT_FALSE(WorkingFolder::Create(tmp.U("nowhere") + u"/"));
    EXPECT_FALSE(std::filesystem::exists(tmp.path() / "missing"));
    saved ? ::setenv("TMPDIR", keep.c_str(), 1) : ::unsetenv("TMPDIR");
}

// Working folders of runs that were killed or crashed are removed by a later
// run, once they have lain untouched for a while; nothing else is: not a
// folder a run still holds, not a young one (just made, not yet locked), not
// other names, not what a link leads to, not a folder inside one, not a
// folder of another user.
TEST(AppPaths, LeftoverWorkingFoldersAreRemovedByALaterRun) {
    namespace fs = std::filesystem;
    TempFolder tmp;
    const std::u16string program = tmp.U("prog") + u"/";
    const fs::path temp = tmp.path() / "prog" / "TEMP";
    fs::create_directories(temp);
    auto age = [](const fs::path& p, bool link = false) {
        const timespec old[2] = {{::time(nullptr) - 2 * WorkingFolder::kStaleAfterSeconds, 0},
                                 {::time(nullptr) - 2 * WorkingFolder::kStaleAfterSeconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), old, link ? AT_SYMLINK_NOFOLLOW : 0), 0) << p;
    };
    auto folder = [&](const std::string& name, std::vector<std::string> files) {
        fs::create_directories(temp / name);
        for (const std::string& f : files) tmp.Write("prog/TEMP/" + name + "/" + f, "x");
        return temp / name;
    };
    const fs::path killed = folder("morvane-a1B2c3", {"plan.png", "plan.png.gz"});
    const fs::path young = folder("morvane-d4E5f6", {"photo.jpg"});
    const fs::path shortName = folder("morvane-abc", {"keep.png"});
    const fs::path otherName = folder("notours-a1B2c3", {"keep.png"});
    const fs::path holding = folder("morvane-g7H8i9", {"keep.png"});
    fs::create_directories(holding / "inner");
    tmp.Write("prog/TEMP/morvane-g7H8i9/inner/keep.png", "x");
    fs::create_directories(tmp.path() / "elsewhere");
    tmp.Write("elsewhere/keep.png", "x");
    const fs::path link = temp / "morvane-j0K1l2";
    fs::create_directory_symlink(tmp.path() / "elsewhere", link);
    // A link inside a stale folder goes; the file it leads to stays.
    fs::create_symlink(tmp.path() / "elsewhere" / "keep.png", killed / "link.png");
    // A folder of another user is left alone (only root can make one here).
    const fs::path others = folder("morvane-m3N4o5", {"keep.png"});
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(others.c_str(), 65534, 65534), 0);
    }
    std::optional<WorkingFolder> live = WorkingFolder::Create(program);
    ASSERT_TRUE(live);
    tmp.Write("prog/TEMP/" + StrToUtf8(ExtractFileNameSafe(live->Path().substr(0, live->Path().size() - 1))) +
                  "/inwork.png",
              "x");
    const fs::path liveFolder = fs::path(NativePath(live->Path())).parent_path();
    // The folder a link leads to is as old as the others: only the link keeps it out.
    for (const fs::path& p : {killed, shortName, otherName, holding, liveFolder, others, tmp.path() / "elsewhere"})
        age(p);
    age(link, true);

    std::optional<WorkingFolder> next = WorkingFolder::Create(program);
    ASSERT_TRUE(next);
    EXPECT_FALSE(fs::exists(killed));
    EXPECT_TRUE(fs::exists(young / "photo.jpg"));
    EXPECT_TRUE(fs::exists(shortName / "keep.png"));
    EXPECT_TRUE(fs::exists(otherName / "keep.png"));
    EXPECT_TRUE(fs::exists(liveFolder / "inwork.png"));
    EXPECT_FALSE(fs::exists(holding / "keep.png"));  // its files go, the folder inside stays
    EXPECT_TRUE(fs::exists(holding / "inner" / "keep.png"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::exists(tmp.path() / "elsewhere" / "keep.png"));
    if (root) {
        EXPECT_TRUE(fs::exists(others / "keep.png"));
    }
}

}  // namespace
