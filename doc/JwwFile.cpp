// Whole-file load and save: the sections of a JWW file run in their fixed
// order (header, entities, block definitions, and from version 700 the bound
// images), every error on the way turned into a false result whose reason is
// kept in LastFailure().
//
// Saving never shows a half-written drawing: a new drawing is written into an
// unnamed file of the destination folder and linked under its name once
// complete; a drawing that replaces another is written under a hidden
// temporary name and then renamed over it in one step. A save that fails, or a
// process killed midway, leaves nothing under the destination name.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <random>
#include <thread>

#include "doc/FileHandle.h"
#include "doc/JwwObjects.h"
#include "doc/JwwUnit.h"
#include "support/Func_2.h"

namespace morvane {

namespace {

constexpr std::u16string_view kSignature = u"JwwData.";
constexpr size_t kSignatureSize = 8;
constexpr std::u16string_view kCrLf = u"\r\n";
// Bytes of the destination's name kept in the temporary name.
constexpr size_t kTempStemBytes = 120;
// Attempts to find a free name when the destination is taken while saving.
constexpr int kMaxNameAttempts = 100;

std::string ErrnoText(const char* what, int err) { return std::string(what) + " (" + std::strerror(err) + ")"; }

// The folder ("." for a bare name) and the file name of a native path.
void SplitNativePath(const std::string& path, std::string& folder, std::string& name) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder.assign(1, '.');  // not = ".": GCC 12 at -O3 warns falsely (-Wrestrict)
        name = path;
    } else {
        folder = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

// The leading part of a UTF-8 name, cut at a character boundary.
std::string Utf8Prefix(const std::string& s, size_t maxBytes) {
    if (s.size() <= maxBytes) return s;
    size_t n = maxBytes;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return s.substr(0, n);
}

// The file a drawing is written into before it has its name: unnamed
// (O_TMPFILE) for a new drawing, so that a killed process leaves nothing behind
// and the folder is changed once, by the link. Creating a named file allocates
// its inode while the folder is locked, and the jobs of a batch writing into
// one folder waited on each other there (a third of a run's time when the
// file system was slow to find free inodes). Where the file system has
// no unnamed files, and for a replacing save (only a rename replaces in one
// step), the file has a hidden name beside the destination, removed again
// unless it has been moved into place.
struct TempFile {
    std::string path;  // the hidden name; empty when unnamed or in place
    UniqueFd fd;
    bool unnamed = false;
    ~TempFile() {
        fd.Reset();
        if (!path.empty()) ::unlink(path.c_str());
    }
};

// Random bits for temporary names: one generator per thread, seeded once from
// the system (opening the system's random source for every save cost more
// than writing the header of a small drawing).
uint64_t TempNameBits() {
    thread_local std::mt19937_64 bits = [] {
        std::random_device rd;
        std::seed_seq seed{rd(), rd(), rd(), rd()};
        return std::mt19937_64(seed);
    }();
    return bits();
}

// Creates a new hidden file beside `dest`: "." + the destination's name +
// "." + random digits + ".tmp", never ending in ".jww", so that a file left by
// a killed process is neither mistaken for a drawing nor picked up by a batch.
// When a drawing is replaced, the new file takes over its permissions.
bool CreateNamedTemp(const std::string& dest, bool replace, TempFile& tmp, std::string& why) {
    std::string folder, name;
    SplitNativePath(dest, folder, name);
    if (name.empty()) {
        why = "the file name is empty";
        return false;
    }
    int err = EEXIST;
    for (int attempt = 0; attempt < kMaxNameAttempts && err == EEXIST; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(TempNameBits()));
        std::string path = folder + "/." + Utf8Prefix(name, kTempStemBytes) + suffix;
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            err = errno;
            continue;
        }
        tmp.path = std::move(path);
        tmp.fd = UniqueFd(fd);
        struct stat old {};
        if (replace && ::stat(dest.c_str(), &old) == 0 && S_ISREG(old.st_mode)) ::fchmod(fd, old.st_mode & 07777);
        return true;
    }
    why = ErrnoText("cannot create the file", err);
    return false;
}

// The file a save writes into: unnamed in the destination's folder for a new
// drawing where the file system allows it, a hidden named one otherwise.
bool CreateTempBeside(const std::string& dest, bool replace, TempFile& tmp, std::string& why) {
    std::string folder, name;
    SplitNativePath(dest, folder, name);
    if (!replace && !name.empty()) {
        int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) {
            tmp.fd = UniqueFd(fd);
            tmp.unnamed = true;
            return true;
        }
        // EOPNOTSUPP (no unnamed files here), EISDIR (a kernel without them),
        // or a folder that is missing, which the named file reports as well.
    }
    return CreateNamedTemp(dest, replace, tmp, why);
}

// Links the unnamed file under `to` unless `to` exists. Gives 0 or the errno;
// EEXIST when the name is taken.
int LinkNoReplace(int fd, const std::string& to, bool refuseForTest) {
    if (refuseForTest) return EPERM;
    char self[40];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, self, AT_FDCWD, to.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    int err = errno;
    if (err == EEXIST) return err;
    // Without /proc: by the descriptor itself, which needs the right to open
    // any file by its handle.
    if (::linkat(fd, "", AT_FDCWD, to.c_str(), AT_EMPTY_PATH) == 0) return 0;
    return errno == EEXIST ? EEXIST : err;
}

// Errors of linking that say it is not allowed here (no /proc, a sandbox, a
// file system that links no unnamed files), rather than that this name or this
// disk cannot take the file (EEXIST, ENOSPC, ENAMETOOLONG …): only these are
// worth the way through a hidden named file.
bool LinkRefused(int err) {
    return err == ENOENT || err == EPERM || err == EACCES || err == EOPNOTSUPP || err == EXDEV || err == ENOSYS;
}

// Linking was refused (no /proc, a sandbox): the finished file is copied into a
// hidden named file beside `dest`, which then goes into place by rename.
bool GiveHiddenName(TempFile& tmp, const std::string& dest, std::string& why) {
    TempFile named;
    if (!CreateNamedTemp(dest, false, named, why)) return false;
    if (::lseek(tmp.fd.get(), 0, SEEK_SET) != 0 || !CopyFileData(tmp.fd.get(), named.fd.get())) {
        why = ErrnoText("copying the file failed", errno);
        return false;
    }
    if (!named.fd.Close()) {
        why = ErrnoText("closing the file failed", errno);
        return false;
    }
    tmp.fd.Reset();
    tmp.unnamed = false;
    tmp.path = std::move(named.path);
    named.path.clear();
    return true;
}

// Moves `from` to `to` unless `to` exists. Gives 0 or the errno; EEXIST when
// the name is taken.
int MoveNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    int err = errno;
    if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP) return err;
    // The file system cannot rename without replacing. A hard link refuses a
    // taken name just as well; the temporary name is then dropped.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    err = errno;
    if (err != EPERM && err != EOPNOTSUPP) return err;
    // No hard links either (FAT): claim the name with an exclusive create and
    // rename over that empty claim.
    int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    ::close(fd);
    if (::rename(from.c_str(), to.c_str()) == 0) return 0;
    err = errno;
    ::unlink(to.c_str());
    return err;
}

std::unique_ptr<ByteReader> OpenDrawing(const std::u16string& FName, int& err) {
    err = 0;
    auto r = ByteReader::OpenFile(NativePath(FName), &err);
    if (!r && err == 0) err = EIO;
    return r;
}

}  // namespace

// ---- Failures -----------------------------------------------------------------------

std::string JwwFailure::Describe() const {
    if (!failed) return {};
    std::string s = message;
    if (!detail.empty()) s += ": " + detail;
    if (hasOffset) s += " at byte " + std::to_string(offset);
    return s;
}

// The first failure of an operation is its cause; later ones are its echoes.
void TJwwData::SetFailure(const char* message, std::string detail, bool hasOffset, uint64_t offset) {
    if (lastFailure_.failed) return;
    lastFailure_.failed = true;
    lastFailure_.message = message;
    lastFailure_.detail = std::move(detail);
    lastFailure_.hasOffset = hasOffset;
    lastFailure_.offset = offset;
}

namespace {

// Runs one step of a load or save and turns whatever it throws into the
// document's failure record: errors of the sections carry their own offset,
// the rest get the position that `where` gives (none for a save). False when
// the step threw.
template <class Step, class Fail, class Where>
bool Guarded(Step&& step, Fail&& fail, Where&& where) {
    auto other = [&](const char* detail) {
        std::optional<uint64_t> at = where();
        fail(kFileIoError, detail, at.has_value(), at.value_or(0));
    };
    try {
        step();
        return true;
    } catch (const JwwIoError& e) {
        fail(e.what(), e.detail, true, e.offset);
    } catch (const std::bad_alloc&) {
        other("out of memory");
    } catch (const std::length_error&) {
        other("an array would be larger than memory allows");
    } catch (const std::exception& e) {
        other(e.what());
    } catch (...) {
        other("unknown error");
    }
    return false;
}

std::optional<uint64_t> NoOffset() { return std::nullopt; }

}  // namespace

namespace {

// ReadHeader keeps its reason to itself; the document tells which check failed.
JwwFailure HeaderFailure(const TJwwData& d, const ByteReader& r) {
    JwwFailure f;
    f.failed = true;
    f.hasOffset = true;
    if (d.Enthd.jwID != kSignature) {
        f.message = kHeaderError;
        f.detail = "the file does not begin with JwwData.";
        f.offset = 0;
    } else if (d.Enthd.jwVer < kMinVersion || d.Enthd.jwVer > kMaxVersion) {
        f.message = kVersionError;
        f.detail = "version " + std::to_string(d.Enthd.jwVer) + " is not 220 to 700";
        f.offset = kSignatureSize;
    } else {
        f.message = kFileIoError;
        f.detail = "the header ends early";
        f.offset = r.position();
    }
    return f;
}

// The memo's first line goes to line1, everything behind the first CR LF
// (further CR LF pairs included) to line2.
void SplitMemo(const std::u16string& memo, std::u16string& line1, std::u16string& line2) {
    int i = StrIndexOf(kCrLf, memo);
    if (i < 0) {
        line1 = memo;
        line2.clear();
    } else {
        line1 = StrMid(memo, 0, i);
        line2 = StrFrom(memo, i + 2);
    }
}

}  // namespace

// ---- Loading ------------------------------------------------------------------------

// Bytes that the file lost while it was read (another program cut it short,
// or its storage failed) read as zeros: whatever the sections made of them,
// including a failure of their own, the load failed where they began.
bool TJwwData::LostInput(const ByteReader& r) {
    lastFailure_ = {};
    SetFailure(kFileIoError, "the file was cut short or could not be read while it was loaded", true, r.failedAt());
    return false;
}

bool TJwwData::FileIn(const std::u16string& FName) { return Load(FName, nullptr, nullptr); }

bool TJwwData::Load(const std::u16string& FName, jwwobj::EntityStream* stream,
                    const std::function<void()>& afterHeader) {
    DataInit();
    lastFailure_ = {};
    auto fail = [this](const char* m, std::string d, bool h, uint64_t o) { SetFailure(m, std::move(d), h, o); };
    bool ok = false;
    bool opened = false;
    bool headerRead = false;
    std::unique_ptr<ByteReader> r;
    Guarded(
        [&] {
            int err = 0;
            r = OpenDrawing(FName, err);
            if (!r) {
                SetFailure(kFileIoError, ErrnoText("cannot open the file", err), false, 0);
                return;
            }
            opened = true;
            if (!ReadHeader(*r)) {
                if (!lastFailure_.failed) lastFailure_ = HeaderFailure(*this, *r);
                return;
            }
            headerRead = true;
            SplitMemo(Enthd.strMemo, MemoLine1, MemoLine2);
            if (afterHeader) afterHeader();
            JwwClassMap map;
            ReadEntitySection(*r, map, stream);
            ReadBlockDefSection(*r, map);
            if (stream) stream->Raise(jwwobj::EntityStream::kBlocksDone);
            if (Enthd.jwVer >= kVerImages) ReadBindImageSection(*r);
            ok = true;
        },
        fail, [&]() -> std::optional<uint64_t> { return r ? std::optional<uint64_t>(r->position()) : std::nullopt; });
    if (r && r->inputFailed()) ok = LostInput(*r);
    r.reset();
    // The tree describes whatever was read, also after a failure; only a file
    // rejected by its header gets none. A tree that would outgrow its bound
    // (blocks that insert themselves) fails the load.
    if (headerRead || !opened) {
        auto treeFail = [this](const char* m, std::string d, bool, uint64_t) { SetFailure(m, std::move(d), false, 0); };
        if (stream && stream->treeOnSecondThreadForTest) {
            // Tests: the second thread claims it within moments unless it stopped early.
            for (int i = 0; i < 1000 && !stream->treeClaimed.load(std::memory_order_acquire); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (stream && !stream->ClaimTree()) {
            // The save thread makes it (it raises kTreeDone whatever happens).
            stream->WaitFor(jwwobj::EntityStream::kTreeDone);
            const JwwFailure& f = stream->treeFailure;
            if (f.failed) {
                treeFail(f.message.empty() ? kFileIoError : f.message.c_str(), f.detail, false, 0);
                ok = false;
            }
        } else if (!Guarded([&] { MakeBlockTree(); }, treeFail, NoOffset)) {
            ok = false;  // no byte offset: not in the file
        }
    }
    return ok;
}

bool TJwwData::FileHeaderIn(const std::u16string& FName) {
    DataInit();
    lastFailure_ = {};
    auto fail = [this](const char* m, std::string d, bool h, uint64_t o) { SetFailure(m, std::move(d), h, o); };
    bool ok = false;
    Guarded(
        [&] {
            int err = 0;
            auto r = OpenDrawing(FName, err);
            if (!r) {
                SetFailure(kFileIoError, ErrnoText("cannot open the file", err), false, 0);
                return;
            }
            ok = ReadHeader(*r);
            if (!ok && !lastFailure_.failed) lastFailure_ = HeaderFailure(*this, *r);
            if (r->inputFailed()) ok = LostInput(*r);
        },
        fail, NoOffset);
    return ok;
}

// True when the file begins with "JwwData." and a version of 220 to 700. A file
// that ends inside the version field is not a drawing.
bool TJwwData::FileCheck(const std::u16string& FName) const {
    try {
        int err = 0;
        auto r = OpenDrawing(FName, err);
        if (!r) return false;
        uint8_t sig[kSignatureSize] = {};
        if (r->read(sig, sizeof sig) != sizeof sig) return false;
        if (AnsiBytesToStr(sig, sizeof sig) != kSignature) return false;
        size_t got = 0;
        int32_t ver = r->value<int32_t>(0, &got);
        return got == sizeof ver && ver >= kMinVersion && ver <= kMaxVersion;
    } catch (...) {
        return false;
    }
}

void TJwwData::SetFileOutOption(int n) { FileOutOpt = (n >= 0 && n <= 63) ? n : 0; }

// ---- Saving ---------------------------------------------------------------------------

namespace {

// Hands the last bytes to the file system and closes the temporary file. No
// fsync: the rename makes the output complete or absent for every reader and
// after a killed process; only a power cut can lose the newest outputs, never a
// source, and a batch of small drawings would otherwise wait on the disk's
// journal for each file.
bool FinishTempFile(ByteWriter& w, TempFile& tmp, std::string& why) {
    if (!w.flush()) {
        why = ErrnoText("writing the file failed", w.error());
        return false;
    }
    if (tmp.unnamed) {
        // Closed once linked (until then only its descriptor names it); a
        // copy of the descriptor is closed first, so that a file system that
        // reports a delayed write error at close does so before the name exists.
        const int copy = ::dup(tmp.fd.get());
        if (copy < 0 || ::close(copy) != 0) {
            why = ErrnoText("closing the file failed", errno);
            return false;
        }
        return true;
    }
    if (!tmp.fd.Close()) {
        why = ErrnoText("closing the file failed", errno);
        return false;
    }
    return true;
}

// Gives the finished temporary file its name: with `replace` a file of that
// name is replaced; otherwise it never is and the next free name is taken.
bool MoveIntoPlace(const std::u16string& FName, bool replace, TempFile& tmp, std::u16string& used, std::string& why,
                   bool refuseLinkForTest) {
    std::u16string name = FName;
    for (int attempt = 0; attempt < kMaxNameAttempts && !name.empty(); ++attempt) {
        const std::string dest = NativePath(name);
        int err = 0;
        if (tmp.unnamed) {
            err = LinkNoReplace(tmp.fd.get(), dest, refuseLinkForTest);
            if (err == 0 && !tmp.fd.Close()) {
                why = ErrnoText("closing the file failed", errno);
                ::unlink(dest.c_str());
                return false;
            }
            if (LinkRefused(err)) {
                if (!GiveHiddenName(tmp, dest, why)) return false;
                err = MoveNoReplace(tmp.path, dest);
            }
        } else {
            err = replace ? (::rename(tmp.path.c_str(), dest.c_str()) == 0 ? 0 : errno) : MoveNoReplace(tmp.path, dest);
        }
        if (err == 0) {
            tmp.path.clear();
            used = name;
            return true;
        }
        if (replace || err != EEXIST) {
            why = ErrnoText("cannot give the file its name", err);
            return false;
        }
        name = MakeUniqueFileName(FName);
    }
    why = "no free file name";
    return false;
}

}  // namespace

bool TJwwData::FileOut(const std::u16string& FName, int32_t Ver) { return SaveTo(FName, Ver, true, nullptr); }

bool TJwwData::FileOutNew(const std::u16string& FName, int32_t Ver, std::u16string* savedAs) {
    return SaveTo(FName, Ver, false, savedAs);
}

bool TJwwData::SaveTo(const std::u16string& FName, int32_t Ver, bool replace, std::u16string* savedAs) {
    lastFailure_ = {};
    auto fail = [this](const char* m, std::string d, bool h, uint64_t o) { SetFailure(m, std::move(d), h, o); };
    bool ok = false;
    Guarded(
        [&] {
            const std::string dest = NativePath(FName);
            TempFile tmp;
            std::string why;
            if (!CreateTempBeside(dest, replace, tmp, why)) return SetFailure(kFileIoError, why, false, 0);
            ByteWriter w(tmp.fd.get());
            w.failAfter(writeLimitForTest_);
            JwwClassMap map;
            WriteHeader(w, Ver);
            WriteEntitySection(w, Ver, map);
            WriteBlockDefSection(w, Ver, map);
            if (Ver >= kVerImages && !WriteBindImageSection(w)) return;  // reason recorded there
            std::u16string used;
            if (!FinishTempFile(w, tmp, why) || !MoveIntoPlace(FName, replace, tmp, used, why, refuseLinkForTest_))
                return SetFailure(kFileIoError, why, false, 0);
            if (savedAs) *savedAs = std::move(used);
            ok = true;
        },
        fail, NoOffset);
    return ok;
}

// ---- Loading and saving at once ------------------------------------------------------

namespace {

// Patches closer together than this are read and written back as one run.
constexpr uint64_t kPatchWindow = uint64_t{1} << 20;

// Gives the inserts, written with their stored numbers before the definitions
// were read, the numbers the definitions give them, in the finished file.
bool PatchBlockNumbers(int fd, const std::vector<jwwobj::ObjectWriter::NumberPatch>& patches,
                       const jwwobj::BlockNumberMap& numbers, std::string& why) {
    std::vector<uint8_t> buf;
    size_t i = 0;
    while (i < patches.size()) {
        if (numbers(patches[i].number) == patches[i].number) {
            ++i;
            continue;
        }
        const uint64_t start = patches[i].offset;
        size_t j = i;
        while (j < patches.size() && patches[j].offset + 4 - start <= kPatchWindow) ++j;
        const size_t length = static_cast<size_t>(patches[j - 1].offset + 4 - start);
        buf.resize(length);
        if (::pread(fd, buf.data(), length, static_cast<off_t>(start)) != static_cast<ssize_t>(length)) {
            why = ErrnoText("reading the file back failed", errno);
            return false;
        }
        for (size_t k = i; k < j; ++k) {
            const uint32_t mapped = numbers(patches[k].number);
            std::memcpy(buf.data() + (patches[k].offset - start), &mapped, 4);
        }
        if (::pwrite(fd, buf.data(), length, static_cast<off_t>(start)) != static_cast<ssize_t>(length)) {
            why = ErrnoText("writing the file failed", errno);
            return false;
        }
        i = j;
    }
    return true;
}

// Reserves the first `bytes` of a new file (its size becomes that): a copy of
// a large drawing is about as large as the drawing, and the file system then
// writes into blocks it has already allocated instead of reserving each block
// as it is first written (on ext4 here, a third less time for 200 MB). A hint:
// where the file system cannot, nothing changes, and where it runs out of
// room part of it may be reserved. Either way the caller cuts the file to
// what it wrote.
void ReserveRoom(int fd, uint64_t bytes) {
#if defined(__linux__)
    if (bytes > 0 && bytes <= static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
        (void)::fallocate(fd, 0, 0, static_cast<off_t>(bytes));
#else
    (void)fd;
    (void)bytes;
#endif
}

// How the save thread of FileInSaveNew ended.
enum class SaverEnd {
    Written,   // the whole file is written and closed, to be named
    Ordinary,  // the streamed bytes cannot stand: saved the ordinary way after the load
    Failed,    // the save failed (the reason is kept)
    Dropped,   // the load failed: nothing to save
};

}  // namespace

TJwwData::PipeResult TJwwData::FileInSaveNew(const std::u16string& source, const std::u16string& FName, int32_t Ver,
                                             bool unicode, const std::function<void()>& afterHeader,
                                             const std::function<void()>& afterLoad, std::u16string* savedAs) {
    using jwwobj::EntityStream;
    EntityStream stream;
    stream.publishEvery = stream_.publishEvery;

    // Made on this thread once the header is read and changed, before the
    // save thread starts: the header in both string forms (the output may
    // have to start again in UTF-16) and the object count that follows it.
    std::vector<uint8_t> header[2];
    uint32_t objectCount = 0;
    bool unicodeFirst = false;

    // ---- The save, on its own thread. It reads the document only as the
    // stream allows until the load is done, and never names the file.
    std::optional<TempFile> tmp;
    uint64_t sourceBytes = 0;
    SaverEnd end = SaverEnd::Dropped;
    JwwFailure saveFailure;
    auto saveMain = [&] {
        // Failures are recorded as the ordinary save records them.
        auto record = [&](const char* message, std::string detail, bool hasOffset, uint64_t offset) {
            saveFailure = JwwFailure{true, message, std::move(detail), hasOffset, offset};
            end = SaverEnd::Failed;
        };
        auto fail = [&](std::string why) { record(kFileIoError, std::move(why), false, 0); };
        auto waitLoad = [&] { return stream.WaitFor(EntityStream::kLoadDone | EntityStream::kFailed); };
        // Once the definitions are read the block tree is made here, while
        // the load reads the images, unless the load came to it first.
        auto makeTree = [&] {
            const uint64_t p =
                stream.WaitFor(EntityStream::kBlocksDone | EntityStream::kLoadDone | EntityStream::kFailed);
            if ((p & EntityStream::kFailed) || !(p & EntityStream::kBlocksDone) || !stream.ClaimTree()) return;
            struct Done {
                EntityStream& s;
                ~Done() { s.Raise(EntityStream::kTreeDone); }  // the load waits for it, also after a throw
            } done{stream};
            JwwFailure& f = stream.treeFailure;
            Guarded([&] { MakeBlockTree(); },
                    [&](const char* m, std::string d, bool, uint64_t) {
                        f.failed = true;  // first: the load must fail even if the words cannot be kept
                        f.message = m;
                        f.detail = std::move(d);
                    },
                    NoOffset);
        };
        Guarded([&] {
            const std::string dest = NativePath(FName);
            bool unicodeOut = unicodeFirst;
            for (;;) {
                tmp.emplace();
                std::string why;
                if (!CreateTempBeside(dest, false, *tmp, why)) return fail(why);
                ReserveRoom(tmp->fd.get(), sourceBytes);
                ByteWriter w(tmp->fd.get());
                w.failAfter(writeLimitForTest_);
                w.writeInline(true);  // this thread already runs beside the load
                JwwClassMap map;
                std::vector<jwwobj::ObjectWriter::NumberPatch> patches;
                const std::vector<uint8_t>& h = header[unicodeOut ? 1 : 0];
                w.write(h.data(), h.size());
                WriteObjectCount(w, objectCount);
                switch (jwwobj::StreamEntityList(*this, w, Ver, map, stream, patches, stream_.batch, unicodeOut)) {
                case jwwobj::StreamEnd::Failed: return;  // end stays Dropped
                case jwwobj::StreamEnd::WriteFailed: return fail(ErrnoText("writing the file failed", w.error()));
                case jwwobj::StreamEnd::Unicode:
                    // A UTF-16 string: every string of the output goes in that
                    // form, so the file written so far is dropped.
                    unicodeOut = true;
                    FileOutOpt = kOptUnicode;
                    continue;
                case jwwobj::StreamEnd::Done: break;
                }
                makeTree();
                const uint64_t p = waitLoad();
                if (p & EntityStream::kFailed) return;
                // From here the load is over: the whole document may be read.
                // A UTF-16 string after the entity list, or a list that gave
                // fewer objects than its count (written above) promised: saved
                // again from the start, once the load is done.
                if ((MojiEncode && !unicodeOut) || (p & EntityStream::kCountMask) != objectCount) {
                    tmp.reset();
                    end = SaverEnd::Ordinary;
                    return;
                }
                WriteBlockDefSection(w, Ver, map);
                if (Ver >= kVerImages && !WriteBindImageSection(w)) {
                    saveFailure = lastFailure_;  // recorded there
                    end = SaverEnd::Failed;
                    return;
                }
                if (!w.flush()) return fail(ErrnoText("writing the file failed", w.error()));
                if (!PatchBlockNumbers(tmp->fd.get(), patches, jwwobj::BlockNumberMap(*this), why)) return fail(why);
                // Room reserved beyond the last byte written is given back.
                if (::ftruncate(tmp->fd.get(), static_cast<off_t>(w.written())) != 0)
                    return fail(ErrnoText("writing the file failed", errno));
                if (!FinishTempFile(w, *tmp, why)) return fail(why);
                end = SaverEnd::Written;
                return;
            }
        }, record, NoOffset);
    };

    // Whatever way this function is left, the save thread is told that the
    // load is over and is waited for.
    struct Saver {
        EntityStream& stream;
        std::thread thread;
        ~Saver() {
            if (!thread.joinable()) return;
            stream.Raise(EntityStream::kListDone | EntityStream::kLoadDone | EntityStream::kFailed);
            thread.join();
        }
    } saver{stream, {}};

    // ---- The load, on this thread; the save thread starts once it has read
    // the entity count.
    stream.onCount = [&](uint64_t fileSize) {
        // Small drawings are saved after the load: a thread would not repay them.
        if (fileSize < stream_.minBytes) return;
        sourceBytes = fileSize;
        // Below 420 a dimension with SXF data goes out as seven objects: the
        // object count written ahead of the list is then not the list's own.
        if (Ver < kVerSxf) return;
        unicodeFirst = unicode || MojiEncode;
        objectCount = static_cast<uint32_t>(std::max(Enthd.n1, 0));
        try {
            for (int form = unicodeFirst ? 1 : 0; form < 2; ++form) {
                FileOutOpt = form ? kOptUnicode : 0;
                ByteWriter h;
                WriteHeader(h, Ver);
                header[form] = h.bytes();
            }
            FileOutOpt = unicodeFirst ? kOptUnicode : 0;
            saver.thread = std::thread(saveMain);
            stream.treeOnSecondThreadForTest = stream_.treeOnSecondThread;
        } catch (const std::exception&) {
            // No thread (or no memory for the header): nobody reads the
            // stream, and the save follows the load as it always may.
        }
    };
    const bool ok = Load(source, &stream, afterHeader);
    stream.Raise(EntityStream::kListDone | EntityStream::kLoadDone | (ok ? 0 : EntityStream::kFailed));
    if (!ok) return PipeResult::LoadFailed;  // the save thread drops its file

    // The save finishes beside whatever the caller does with the loaded drawing.
    afterLoad();
    const bool streamed = saver.thread.joinable();
    if (streamed) saver.thread.join();

    std::u16string used;
    bool saved = false;
    if (streamed && end == SaverEnd::Written) {
        std::string why;
        saved = MoveIntoPlace(FName, false, *tmp, used, why, refuseLinkForTest_);
        if (!saved) SetFailure(kFileIoError, why, false, 0);
    } else if (streamed && end == SaverEnd::Failed) {
        lastFailure_ = saveFailure;
    } else {
        SetFileOutOption(unicode || MojiEncode ? kOptUnicode : 0);
        saved = SaveTo(FName, Ver, false, &used);
    }
    if (!saved) return PipeResult::SaveFailed;
    if (savedAs) *savedAs = std::move(used);
    return PipeResult::Ok;
}

}  // namespace morvane
