// Support routines shared by the drawing document and the application:
// strings (UTF-16 code units), Shift_JIS conversion, numbers, Booleans,
// text substitution, and paths.
//
// A "character" here is one UTF-16 code unit; a surrogate pair counts as two.
// No routine raises an error for malformed input except LowerExtOfPath.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

using ByteBuffer = std::vector<uint8_t>;

// ---- Case mapping and substrings --------------------------------------------

std::u16string UpperCaseStr(std::u16string_view s);
std::u16string LowerCaseStr(std::u16string_view s);
int StrIndexOf(std::u16string_view sub, std::u16string_view s);
std::u16string StrFrom(std::u16string_view s, int index);
std::u16string StrMid(std::u16string_view s, int index, int count);

// ---- Character filters ---------------------------------------------------------

std::u16string RemoveControlChars(std::u16string_view s);
std::u16string RemoveBlanks(std::u16string_view s);
// True when RemoveBlanks would give an empty string.
bool IsAllBlank(std::u16string_view s);
// Drops "^m" and "\n" (backslash, small n) pairs and every character below
// U+0020; a non-empty text that becomes empty is returned as " ".
std::u16string CleanStoredText(std::u16string_view s);
// True when CleanStoredText would give `s` back unchanged, as for most texts.
bool IsStoredClean(std::u16string_view s);
bool IsHalfWidthChar(char16_t c);

struct CutResult {
    std::u16string part;
    int next = 0;
};
CutResult CutByWidth(std::u16string_view s, int start, int maxWidth);

// ---- Encodings -------------------------------------------------------------------
// Shift_JIS means Windows code page 932, converted as Windows converts it.
// The conversion is table driven and safe to use from several threads.

std::u16string AnsiBytesToStr(const uint8_t* bytes, size_t n);
inline std::u16string AnsiBytesToStr(const ByteBuffer& b) { return AnsiBytesToStr(b.data(), b.size()); }
ByteBuffer StrToAnsiBytes(std::u16string_view s);
// Appends the Shift_JIS bytes of s to out (no terminator); the fast path of the writer.
void AppendAnsiBytes(std::u16string_view s, ByteBuffer& out);
int AnsiByteLength(std::u16string_view s);
// False when the platform's converter could not supply the Shift_JIS tables
// (then only ASCII and half-width katakana convert).
bool AnsiConversionComplete();
// Test hook: AnsiConversionComplete() gives false while set.
void SetAnsiConversionMissingForTest(bool missing);
std::u16string WideBytesToStr(const uint8_t* bytes, size_t n);
inline std::u16string WideBytesToStr(const ByteBuffer& b) { return WideBytesToStr(b.data(), b.size()); }
ByteBuffer StrToWideBytes(std::u16string_view s);
void FillBytes(int v, int n, ByteBuffer& b);

// UTF-8 <-> UTF-16 for the edges of the program (command line, settings file, GUI).
std::u16string Utf8ToStr(std::string_view s);
std::string StrToUtf8(std::u16string_view s);
// File-system names and the command line's arguments on Linux are bytes,
// mostly UTF-8. NativeToStr keeps every byte of a sequence that is no UTF-8
// (a Shift_JIS name unpacked from an archive made on Windows) as the lone
// surrogate U+DC80..U+DCFF, and StrToNative gives those bytes back, so that a
// name read from the system names the same file again. Elsewhere both work
// as the UTF-8 pair above.
std::u16string NativeToStr(std::string_view s);
std::string StrToNative(std::u16string_view s);

// ---- Numbers and Booleans ----------------------------------------------------------

bool IsFiniteDouble(double x);
int32_t StrToIntOrZero(std::u16string_view s);
double StrToFloatOrZero(std::u16string_view s);
std::u16string IntToDecStr(int32_t n);
bool StrToBoolLoose(std::u16string_view s);
std::u16string BoolToStr01(bool b);
int32_t RgbToColor(int32_t r, int32_t g, int32_t b);
struct Rgb {
    int32_t r = 0, g = 0, b = 0;
};
Rgb ColorToRgb(int32_t c);

// ---- Text substitution -------------------------------------------------------------
// Process-wide in the original design; kept per thread here so that parallel
// conversions never share them. Nothing in this program fills the table.

struct TStr2List {
    std::u16string s1;
    std::u16string s2;
};
std::vector<TStr2List>& SubstitutionTable();
bool& TextSubstitutionOn();
void ApplyTextSubstitution(std::u16string& s);
void ResetWriterDefaults();
// Fallback pen colour and line type of the attribute writer (always 1).
int WriterFallbackPenColor();
int WriterFallbackLineType();

// ---- Paths ---------------------------------------------------------------------------
// Paths are UTF-16 strings. "\" is a separator as in Windows-form paths; "/" is
// accepted as well, so that Linux paths work. Folders built by this program use
// the platform's separator (DirSeparatorChar).

class InvalidPathError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

bool HasInvalidPathChar(std::u16string_view path);
// A name is taken when anything exists under it (file, folder, or link, even a
// dangling one). Gives an empty string when every candidate ~1 .. ~99999 is
// taken. Throws
// InvalidPathError (from LowerExtOfPath) when name exists and holds a
// character invalid in a path.
std::u16string MakeUniqueFileName(std::u16string_view name);
// The same with the existence test supplied by the caller.
std::u16string MakeUniqueFileName(std::u16string_view name,
                                  const std::function<bool(std::u16string_view)>& fileExists);
// The same for many files of one run: `takenUpTo` carries what earlier calls
// for this name found taken (-1: nothing yet; 0: the name itself; k: the name
// and ~1 .. ~k), and the search goes on from there, so that N files of one
// name cost N lookups, not N * N / 2. Names found taken must stay taken.
std::u16string MakeUniqueFileName(std::u16string_view name,
                                  const std::function<bool(std::u16string_view)>& fileExists, int& takenUpTo);
std::u16string MakeUniqueFileName(std::u16string_view name, int& takenUpTo);
std::u16string AddTrailingSeparator(std::u16string_view folder);
char16_t DirSeparatorChar();
std::u16string ExtractFileNameSafe(std::u16string_view path);
// Throws InvalidPathError for a path holding a character invalid in a path.
std::u16string LowerExtOfPath(std::u16string_view path);
std::u16string ChangePathExt(std::u16string_view path, std::u16string_view ext);
bool PathFileExists(std::u16string_view path);
bool PathFolderExists(std::u16string_view path);
bool TryCreateFolder(std::u16string_view folder);
bool TryDeleteFile(std::u16string_view path);
bool TryRemoveFolder(std::u16string_view folder);

// Native file-system path (StrToNative on Linux) for a UTF-16 path.
std::string NativePath(std::u16string_view path);
// The path as std::filesystem takes it (UTF-8 on Linux, UTF-16 on Windows).
std::filesystem::path ToFsPath(std::u16string_view path);

}  // namespace morvane
