#include "app/SettingsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <type_traits>
#include <variant>
#include <vector>

#include "app/OptionControls.h"
#include "support/Func_2.h"

namespace morvane {

namespace {

// ---- The line table --------------------------------------------------------
// Each line of the file is declared once, as its number and the member it
// holds; the member's type gives the line's kind (number, flag, text), and the
// reader and the writer are both derived from this table.

using DatMember = std::variant<int32_t AppSettings::*, bool AppSettings::*, std::u16string AppSettings::*,
                               int32_t BatchSettings::*, bool BatchSettings::*,
                               std::u16string BatchSettings::*>;

struct DatLine {
    int line;  // 1-based position in the file
    DatMember member;
};

using A = AppSettings;
using B = BatchSettings;

// Colour component edits in file order: for colour n, red on line 51 + 3n,
// green on 52 + 3n, blue on 53 + 3n (lines 54..110).
#define MORVANE_COLOUR_LINE(nn) &B::EDR##nn, &B::EDG##nn, &B::EDB##nn,
constexpr std::u16string B::* kColourLines[] = {MORVANE_BATCH_COLOURS(MORVANE_COLOUR_LINE)};
#undef MORVANE_COLOUR_LINE
constexpr int kFirstColourLine = 54;

std::vector<DatLine> BuildLineTable() {
    std::vector<DatLine> t = {
        {1, &A::Fm1x},           {2, &A::Fm1y},           {3, &A::Fm1w},       {4, &A::Fm1h},
        {5, &A::RadioButtonFl1}, {6, &A::RadioButtonFl2}, {7, &A::RadioButtonFl3},
        {8, &A::RadioButtonFl4}, {9, &A::EditFl1},        {10, &A::Label1},    {11, &A::Fidx},
        {12, &A::LabelPreFolder},
        {13, &B::CB01}, {14, &B::ED01}, {15, &B::CB02}, {16, &B::ED02}, {17, &B::CB03}, {18, &B::CX01},
        {19, &B::CB04}, {20, &B::CB05}, {21, &B::CB06}, {22, &B::CB07}, {23, &B::CB08}, {24, &B::CB09},
        {25, &B::CB10}, {26, &B::ED11}, {27, &B::ED12}, {28, &B::ED13}, {29, &B::ED14}, {30, &B::ED15},
        {31, &B::ED16}, {32, &B::ED17}, {33, &B::ED18},
        {34, &B::CB11}, {35, &B::ED21}, {36, &B::ED22}, {37, &B::ED23}, {38, &B::ED24}, {39, &B::ED25},
        {40, &B::ED26}, {41, &B::ED27}, {42, &B::ED28},
        {43, &B::CB12}, {44, &B::CB13}, {45, &B::CX02}, {46, &B::CB14}, {47, &B::CB15},
        {48, &B::CB16}, {49, &B::CB17}, {50, &B::CB18}, {51, &B::ED30}, {52, &B::CB19}, {53, &B::CB20},
    };
    int line = kFirstColourLine;
    for (auto member : kColourLines) t.push_back({line++, member});
    t.push_back({111, &A::RadioButtonFl5});
    t.push_back({112, &A::gstyle});
    t.push_back({113, &B::CB21});
    return t;
}

const std::vector<DatLine>& LineTable() {
    static const std::vector<DatLine> table = BuildLineTable();
    return table;
}

template <class... F>
struct Overload : F... {
    using F::operator()...;
};
template <class... F>
Overload(F...) -> Overload<F...>;  // clang 14 does not deduce aggregates

// Folder lines are written with the bytes of a name that is no UTF-8 (a
// folder unpacked from a Windows archive keeps its Shift_JIS name), so that
// they name the same folder when read back; other texts are UTF-8 throughout.
bool IsFolderLine(const DatMember& m) {
    return m == DatMember{&A::EditFl1} || m == DatMember{&A::Label1} || m == DatMember{&A::LabelPreFolder};
}

// ---- Reading ---------------------------------------------------------------------

// A radio button that becomes checked unchecks the others of its group.
void SetDestinationButton(AppSettings& a, bool AppSettings::*button, bool checked) {
    for (int m = 1; m <= 5; ++m) {
        auto mode = static_cast<DestinationMode>(m);
        if (&DestinationButton(a, mode) != &(a.*button)) continue;
        if (checked)
            CheckDestination(a, mode);
        else
            a.*button = false;
    }
}

// Stores one line as if the user had typed it or clicked its box.
void ApplyLine(AppSettings& a, const DatMember& member, const std::u16string& text) {
    std::visit(Overload{
                   [&](int32_t A::*m) { a.*m = StrToIntOrZero(text); },
                   [&](std::u16string A::*m) { a.*m = text; },
                   [&](bool A::*m) { SetDestinationButton(a, m, StrToBoolLoose(text)); },
                   [&](int32_t B::*m) { a.batch.*m = StrToIntOrZero(text); },
                   [&](std::u16string B::*m) { a.batch.*m = text; },
                   [&](bool B::*m) {
                       bool checked = StrToBoolLoose(text);
                       if (a.batch.*m == checked) return;  // no change, no click
                       a.batch.*m = checked;
                       OptionBoxClicked(a.batch, m);
                   },
               },
               member);
}

bool ReadFileBytes(const std::string& native, ByteBuffer& bytes) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(native, ec)) return false;
    uintmax_t size = std::filesystem::file_size(native, ec);
    if (ec || size > kMaxSettingsFileBytes) return false;
    std::ifstream in(native, std::ios::binary);
    if (!in) return false;
    // One byte more than the size tells a file that grew meanwhile.
    bytes.resize(static_cast<size_t>(size) + 1);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) return false;
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes.size() <= size;
}

// The text of the file by its byte-order mark: UTF-8, UTF-16 LE or BE; a file
// without one is Shift_JIS. UTF-8 is decoded keeping the bytes of sequences
// that are no UTF-8 (`utf8` tells), for the folder lines.
std::u16string DecodeSettingsText(const ByteBuffer& b, bool& utf8) {
    const size_t n = b.size();
    utf8 = n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF;
    if (utf8) return NativeToStr(std::string_view(reinterpret_cast<const char*>(b.data()) + 3, n - 3));
    if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) return WideBytesToStr(b.data() + 2, n - 2);
    if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        ByteBuffer swapped(b.begin() + 2, b.end());
        for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
        return WideBytesToStr(swapped);
    }
    return AnsiBytesToStr(b);
}

// Lines end at CR LF, CR or LF; a final line end does not start another line.
// Only the first `maxLines` lines are taken.
std::vector<std::u16string> SplitLines(const std::u16string& text, size_t maxLines) {
    std::vector<std::u16string> lines;
    size_t start = 0;
    while (start < text.size() && lines.size() < maxLines) {
        size_t end = text.find_first_of(u"\r\n", start);
        if (end == std::u16string::npos) end = text.size();
        lines.emplace_back(text, start, end - start);
        start = end;
        if (start < text.size() && text[start] == u'\r') ++start;
        if (start < text.size() && text[start] == u'\n' && (start == end || text[start - 1] == u'\r'))
            ++start;
    }
    return lines;
}

// ---- Writing ---------------------------------------------------------------------

// Every text is one line of the file: a line break inside it (a folder name
// may hold one on Linux) would shift every later line, so it is dropped.
std::u16string OneLine(std::u16string s) {
    std::erase_if(s, [](char16_t c) { return c == u'\r' || c == u'\n'; });
    return s;
}

std::u16string LineText(const AppSettings& a, const DatMember& member) {
    return std::visit(Overload{
                          [&](int32_t A::*m) { return IntToDecStr(a.*m); },
                          [&](std::u16string A::*m) { return OneLine(a.*m); },
                          [&](bool A::*m) { return BoolToStr01(a.*m); },
                          [&](int32_t B::*m) { return IntToDecStr(a.batch.*m); },
                          [&](std::u16string B::*m) { return OneLine(a.batch.*m); },
                          [&](bool B::*m) { return BoolToStr01(a.batch.*m); },
                      },
                      member);
}

std::string SettingsFileBytes(const AppSettings& a) {
    std::string out = "\xEF\xBB\xBF";
    for (const DatLine& d : LineTable()) {
        const std::u16string text = LineText(a, d.member);
        out += IsFolderLine(d.member) ? StrToNative(text) : StrToUtf8(text);
        out += "\r\n";
    }
    return out;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool OpenDatFile(const std::u16string& path, const std::u16string& programFolder, AppSettings& settings) {
    settings = AppSettings{};
    settings.LabelPreFolder = programFolder;
    ByteBuffer bytes;
    if (path.empty() || !ReadFileBytes(NativePath(path), bytes)) return false;
    bool utf8 = false;
    std::vector<std::u16string> lines = SplitLines(DecodeSettingsText(bytes, utf8), kSettingsLineCount);
    const std::vector<DatLine>& table = LineTable();
    for (size_t i = 0; i < lines.size(); ++i) {
        // A text line's odd bytes become U+FFFD, as UTF-8 decoding gives them.
        if (utf8 && !IsFolderLine(table[i].member)) lines[i] = Utf8ToStr(StrToNative(lines[i]));
        ApplyLine(settings, table[i].member, lines[i]);
    }
    return true;
}

bool SaveDatFile(const std::u16string& path, const AppSettings& settings) {
    if (path.empty()) return false;
    const std::string target = NativePath(path);
    std::string temp = target + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    // Keep the mode of the file it replaces; a new one gets rw-r--r--.
    struct stat st {};
    ::fchmod(fd, ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    bool ok = WriteAll(fd, SettingsFileBytes(settings)) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

}  // namespace morvane
