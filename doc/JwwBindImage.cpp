// Bound images: the last section of a JWW file of version 700 and above, and
// the image files that stand for it in BindImageFolder while a drawing is held.
//
// Section layout:
//   count            int32
//   per entry: name  archive string (the file name inside BindImageFolder)
//              size  int32
//              data  `size` bytes, only when the name is not empty and the
//                    size is above 0: the image file exactly as it lies in the
//                    folder (for a ".gz" name, the gzip file itself)
// Nothing follows the last entry.
//
// A text shows a bound image when it reads "^@BM%temp%" + name + "," + placement
// values; the name is the entry's name without ".gz". Only images that some
// text refers to are written back.
//
// Names come from untrusted files. Every operation turns a name into a path
// only after IsSafeImageName has confined it to BindImageFolder; an entry
// whose name fails gets no file, and no operation touches the disk for it.
// An empty BindImageFolder is no folder at all (the names would otherwise be
// taken relative to the current folder, where they could read or delete a
// user's file): no image file is then created, read or deleted.
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <optional>
#include <unordered_set>
#include <vector>

#include "doc/FileHandle.h"
#include "doc/JwwUnit.h"
#include "support/Func_2.h"

namespace morvane {

bool IsSafeImageName(std::u16string_view name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        if (c == u'\\' || c == u'/' || c == u':') return false;
        // A surrogate outside a pair has no file name of its own: it would
        // share one with another name (U+FFFD, or the bytes it escapes).
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return !HasInvalidPathChar(name);
}

namespace {

constexpr size_t kCopyBlock = 256 * 1024;
constexpr int kGzipWindowBits = 31;  // 32 KiB window (15) + gzip wrapper (16)
constexpr int kGzipLevel = 9;
constexpr int kGzipMemLevel = 8;
// The smallest entry: an empty name (one length byte) and the size.
constexpr uint64_t kMinEntryBytes = 5;
constexpr std::u16string_view kTempRefPrefix = u"^@BM%temp%";
// Why the load wrote no file for an image, besides an errno. Only an entry
// with no data to write leaves nothing missing from a copy.
constexpr int kNoImageData = -1;
constexpr int kNoWorkingFolder = -2;
constexpr int kBeyondFileLimit = -3;

std::string UnwrittenReason(const std::u16string& name, int reason, size_t fileLimit) {
    const std::string image = "bound image " + StrToUtf8(name);
    switch (reason) {
        case kNoWorkingFolder: return image + " could not be written: there is no working folder";
        case kBeyondFileLimit:
            return image + " was not written: the drawing holds more than " + std::to_string(fileLimit) +
                   " image files";
    }
    return image + " could not be written into the working folder (" + std::strerror(reason) + ")";
}

// ".gz" by the extension rule of the image names (lower-cased, last dot).
// Only called for safe names, which LowerExtOfPath accepts.
bool HasGzExt(std::u16string_view name) { return LowerExtOfPath(LowerCaseStr(name)) == u".gz"; }

// The name of the unpacked file of a ".gz" entry, or empty when that name
// would not be a file inside the folder ("..gz" would give ".").
std::u16string UnpackedName(std::u16string_view gzName) {
    std::u16string n = ChangePathExt(gzName, u"");
    return IsSafeImageName(n) ? n : std::u16string();
}

// The name an image entry shows under: the unpacked name for ".gz" entries.
std::u16string ShownName(std::u16string_view name) {
    return HasGzExt(name) ? UnpackedName(name) : std::u16string(name);
}

// ---- Image files --------------------------------------------------------------

// Copies `size` bytes of the drawing into a new image file; at the end of the
// drawing the file simply ends shorter. When the file cannot be created or
// written it is removed again and the rest of the entry's bytes are skipped,
// so that the next entry is read from its own start. Gives 0, or the errno of
// the failure.
int ExtractImageFile(ByteReader& r, const std::string& path, uint64_t size, std::vector<uint8_t>& buf) {
    UniqueFd fd(CreateFreshFile(path));
    if (!fd) {
        const int err = errno;
        r.skip(size);
        return err;
    }
    uint64_t left = size;
    int err = 0;
    while (left > 0) {
        size_t got = r.read(buf.data(), static_cast<size_t>(std::min<uint64_t>(left, buf.size())));
        if (got == 0) break;
        left -= got;
        if (!WriteAll(fd.get(), buf.data(), got)) {
            err = errno;
            break;
        }
    }
    if (!fd.Close() && err == 0) err = errno;
    if (err != 0) {
        ::unlink(path.c_str());
        r.skip(left);
    }
    return err;
}

// Copies src to dst, replacing a file there; a partial copy is removed.
void CopyImageFile(const std::string& src, const std::string& dst) {
    struct stat srcStat {};
    UniqueFd in(OpenRegularForReading(src, &srcStat));
    if (!in) return;
    struct stat dstStat {};
    if (::lstat(dst.c_str(), &dstStat) == 0 && dstStat.st_dev == srcStat.st_dev && dstStat.st_ino == srcStat.st_ino)
        return;  // the same file (dst is the working folder): replacing it would delete it
    UniqueFd out(CreateFreshFile(dst));
    if (!out) return;
    bool ok = CopyFileData(in.get(), out.get());
    if (!out.Close() || !ok) ::unlink(dst.c_str());
}

// ---- gzip ------------------------------------------------------------------------

// Input of the inflater, read in large blocks; keeps unread bytes in front so
// that a look at the next two bytes can cross a block boundary.
class BlockInput {
public:
    explicit BlockInput(int fd) : fd_(fd), buf_(kCopyBlock), next_(buf_.data()) {}
    // Makes at least `want` bytes available unless the file ends first; false
    // on a read error.
    bool Ensure(size_t want) {
        if (avail_ >= want) return true;
        if (avail_ > 0) std::memmove(buf_.data(), next_, avail_);
        next_ = buf_.data();
        while (avail_ < want && !eof_) {
            ssize_t got = ReadSome(fd_, buf_.data() + avail_, buf_.size() - avail_);
            if (got < 0) return false;
            if (got == 0) eof_ = true;
            avail_ += static_cast<size_t>(got);
        }
        return true;
    }
    const uint8_t* next() const { return next_; }
    size_t avail() const { return avail_; }
    void Consumed(size_t n) {
        next_ += n;
        avail_ -= n;
    }

private:
    int fd_;
    std::vector<uint8_t> buf_;
    const uint8_t* next_;
    size_t avail_ = 0;
    bool eof_ = false;
};

struct InflateStream {
    z_stream zs{};
    bool ready = false;
    InflateStream() { ready = inflateInit2(&zs, kGzipWindowBits) == Z_OK; }
    ~InflateStream() {
        if (ready) inflateEnd(&zs);
    }
};

// Unpacks gzip data from `in` to `out`. A gzip file may hold several members
// one after the other (RFC 1952; "cat a.gz b.gz" makes one): all of them are
// unpacked in turn, as gzip itself does, and bytes after the last member that
// do not start a new one are ignored. False when the data is not gzip, ends
// inside a member, unpacks to more than `limit` bytes, or cannot be written.
// `total` receives the bytes written to `out`.
bool InflateGzip(int in, int out, uint64_t limit, uint64_t& total) {
    InflateStream s;
    if (!s.ready) return false;
    BlockInput input(in);
    std::vector<uint8_t> outBuf(kCopyBlock);
    total = 0;
    for (;;) {
        // One member.
        for (;;) {
            if (!input.Ensure(1)) return false;
            if (input.avail() == 0) return false;  // the file ends inside the member
            s.zs.next_in = const_cast<Bytef*>(input.next());
            s.zs.avail_in = static_cast<uInt>(std::min<size_t>(input.avail(), UINT32_MAX));
            s.zs.next_out = outBuf.data();
            s.zs.avail_out = static_cast<uInt>(outBuf.size());
            const uInt inBefore = s.zs.avail_in;
            int rc = inflate(&s.zs, Z_NO_FLUSH);
            input.Consumed(inBefore - s.zs.avail_in);
            size_t produced = outBuf.size() - s.zs.avail_out;
            if (produced > limit - total) return false;
            total += produced;
            if (produced > 0 && !WriteAll(out, outBuf.data(), produced)) return false;
            if (rc == Z_STREAM_END) break;
            if (rc == Z_BUF_ERROR && inBefore != s.zs.avail_in) continue;
            if (rc != Z_OK) return false;
        }
        // Another member follows only where the gzip magic stands.
        if (!input.Ensure(2)) return false;
        if (input.avail() < 2 || input.next()[0] != 0x1F || input.next()[1] != 0x8B) return true;
        if (inflateReset(&s.zs) != Z_OK) return false;
    }
}

// Unpacks the gzip file src into dst (replacing it); dst is removed again
// when the unpacking fails, so that no partial image is left behind. Gives the
// bytes written, also when they were removed again: the disk took them.
uint64_t UnpackGzipFile(const std::string& src, const std::string& dst, uint64_t limit) {
    UniqueFd in(OpenRegularForReading(src));
    if (!in) return 0;
    UniqueFd out(CreateFreshFile(dst));
    if (!out) return 0;
    uint64_t total = 0;
    bool ok = InflateGzip(in.get(), out.get(), limit, total);
    if (!out.Close() || !ok) ::unlink(dst.c_str());
    return total;
}

struct DeflateStream {
    z_stream zs{};
    bool ready = false;
    DeflateStream() {
        ready = deflateInit2(&zs, kGzipLevel, Z_DEFLATED, kGzipWindowBits, kGzipMemLevel, Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~DeflateStream() {
        if (ready) deflateEnd(&zs);
    }
};

bool DeflateGzip(int in, int out) {
    DeflateStream s;
    if (!s.ready) return false;
    std::vector<uint8_t> inBuf(kCopyBlock), outBuf(kCopyBlock);
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        ssize_t got = ReadSome(in, inBuf.data(), inBuf.size());
        if (got < 0) return false;
        if (got == 0) flush = Z_FINISH;
        s.zs.next_in = inBuf.data();
        s.zs.avail_in = static_cast<uInt>(got);
        do {
            s.zs.next_out = outBuf.data();
            s.zs.avail_out = static_cast<uInt>(outBuf.size());
            int rc = deflate(&s.zs, flush);
            if (rc == Z_STREAM_ERROR) return false;
            size_t produced = outBuf.size() - s.zs.avail_out;
            if (produced > 0 && !WriteAll(out, outBuf.data(), produced)) return false;
        } while (s.zs.avail_out == 0);
    }
    return true;
}

// Packs src into the gzip file dst (replacing it). False, with dst removed,
// when anything fails: the entry must not be renamed to a broken file.
bool PackGzipFile(const std::string& src, const std::string& dst) {
    UniqueFd in(OpenRegularForReading(src));
    if (!in) return false;
    UniqueFd out(CreateFreshFile(dst));
    if (!out) return false;
    bool ok = DeflateGzip(in.get(), out.get());
    if (!out.Close()) ok = false;
    if (!ok) ::unlink(dst.c_str());
    return ok;
}

// ---- References from texts --------------------------------------------------------

// The upper-cased name of a text "^@BM%temp%" + name + "," + ..., or empty
// when the text is no such reference.
std::u16string ReferencedImageName(std::u16string_view text) {
    if (text.size() < kTempRefPrefix.size() + 1 || text.substr(0, kTempRefPrefix.size()) != kTempRefPrefix)
        return {};
    size_t comma = text.find(u',');
    if (comma == std::u16string_view::npos) return {};
    return UpperCaseStr(text.substr(kTempRefPrefix.size(), comma - kTempRefPrefix.size()));
}

// Marks the first image (in list order) whose upper-cased name begins with a
// text's reference name: a shortened name (photo for photo.jpg.gz) marks it
// too. A pass over every entry per text would let a drawing of a few
// megabytes, with many texts and many entries, keep a save busy for hours;
// instead the names are sorted once, which puts every name with a given
// beginning into one run, and a tree of the smallest list index over the
// sorted order gives the run's first entry in O(log n).
class ImageMarker {
public:
    explicit ImageMarker(std::vector<std::u16string> upperNames)
        : names_(std::move(upperNames)), sorted_(names_.size()), least_(2 * names_.size()) {
        std::iota(sorted_.begin(), sorted_.end(), size_t{0});
        std::sort(sorted_.begin(), sorted_.end(), [this](size_t a, size_t b) { return names_[a] < names_[b]; });
        const size_t n = sorted_.size();
        std::copy(sorted_.begin(), sorted_.end(), least_.begin() + static_cast<std::ptrdiff_t>(n));
        for (size_t i = n; i-- > 1;) least_[i] = std::min(least_[2 * i], least_[2 * i + 1]);
    }

    // `r`: a text's reference name, not empty.
    void Mark(std::u16string_view r, std::vector<char>& marked) const {
        auto name = [this](size_t i) { return std::u16string_view(names_[i]); };
        const auto lo = std::lower_bound(sorted_.begin(), sorted_.end(), r,
                                         [&](size_t i, std::u16string_view v) { return name(i) < v; });
        const auto hi =
            std::partition_point(lo, sorted_.end(), [&](size_t i) { return name(i).substr(0, r.size()) == r; });
        const size_t n = sorted_.size();
        size_t first = n;  // none
        size_t a = static_cast<size_t>(lo - sorted_.begin()) + n, b = static_cast<size_t>(hi - sorted_.begin()) + n;
        for (; a < b; a >>= 1, b >>= 1) {
            if (a & 1) first = std::min(first, least_[a++]);
            if (b & 1) first = std::min(first, least_[--b]);
        }
        if (first < n) marked[first] = 1;
    }

private:
    std::vector<std::u16string> names_;
    std::vector<size_t> sorted_;  // entry indices in the order of their names
    std::vector<size_t> least_;   // [n + k] = sorted_[k]; [k] = min of its two children
};

}  // namespace

// ---- Operations on the image list and files ---------------------------------------

namespace {
// Entries in use: BindImageN, never more than the list holds.
size_t ImageCount(const TJwwData& d) {
    return d.BindImageN <= 0 ? 0 : std::min<size_t>(static_cast<size_t>(d.BindImageN), d.BindImage.size());
}

// The names of the entries, whose files hold their stored bytes. Unpacking or
// packing must not write over one of them ("a.png.gz" unpacked next to
// "a.png", "a.gz.gz" next to "a.gz"): that entry would be saved with the
// other image's bytes. The names as they were when it was made.
class StoredNames {
public:
    explicit StoredNames(const TJwwData& d) {
        for (size_t i = 0; i < ImageCount(d); ++i) names_.push_back(d.BindImage[i].Fname);
        std::sort(names_.begin(), names_.end());
    }
    bool Has(std::u16string_view name) const {
        return std::binary_search(names_.begin(), names_.end(), name, std::less<>());
    }

private:
    std::vector<std::u16string> names_;
};
}  // namespace

void TJwwData::BindImageInit() {
    BindImage.clear();
    BindImageN = 0;
    imageFiles_.clear();
}

// The bound holds for all the images of the drawing together: a drawing of a
// few megabytes may carry any number of small gzip members that each unpack
// to the bound, and would fill the disk one image at a time. An unpacking that
// fails spends what it wrote too (a bomb cut off at the bound spends nearly
// all of it), and a name listed again is not unpacked again: otherwise
// entries of nine bytes each could unpack one stored bomb over and over.
void TJwwData::BindImageExplode() {
    if (BindImageFolder.empty()) return;
    const StoredNames stored(*this);
    std::unordered_set<std::u16string> unpacked;
    uint64_t budget = unpackLimit_;
    for (size_t i = 0; i < ImageCount(*this) && budget > 0; ++i) {
        const std::u16string& name = BindImage[i].Fname;
        if (!ImageFileMayExist(i) || !IsSafeImageName(name) || !HasGzExt(name)) continue;
        std::u16string target = UnpackedName(name);
        if (target.empty() || stored.Has(target) || !unpacked.insert(target).second) continue;
        const uint64_t written =
            UnpackGzipFile(NativePath(BindImageFolder + name), NativePath(BindImageFolder + target), budget);
        budget -= std::min(budget, written);
    }
}

void TJwwData::BindImagePack() {
    if (BindImageFolder.empty()) return;
    const StoredNames stored(*this);
    for (size_t i = 0; i < ImageCount(*this); ++i) {
        TBindImageType& e = BindImage[i];
        if (!ImageFileMayExist(i) || !IsSafeImageName(e.Fname) || HasGzExt(e.Fname)) continue;
        std::u16string packed = e.Fname + u".gz";
        if (stored.Has(packed)) continue;
        if (PackGzipFile(NativePath(BindImageFolder + e.Fname), NativePath(BindImageFolder + packed)))
            e.Fname = std::move(packed);
    }
}

void TJwwData::BindImageCopy(const std::u16string& dst) {
    if (dst.empty() || BindImageFolder.empty()) return;  // no folder given: copying into the root is never meant
    std::u16string folder = dst;
    if (folder.back() != u'\\' && folder.back() != u'/') folder += DirSeparatorChar();
    for (size_t i = 0; i < ImageCount(*this); ++i) {
        const std::u16string& name = BindImage[i].Fname;
        if (!ImageFileMayExist(i) || !IsSafeImageName(name)) continue;
        std::u16string shown = ShownName(name);
        if (shown.empty()) continue;
        CopyImageFile(NativePath(BindImageFolder + shown), NativePath(folder + shown));
    }
}

void TJwwData::BindImageDeleteFile() {
    if (BindImageFolder.empty()) return;
    for (size_t i = 0; i < ImageCount(*this); ++i) {
        const std::u16string& name = BindImage[i].Fname;
        if (ImageFileMayExist(i) && IsSafeImageName(name)) ::unlink(NativePath(BindImageFolder + name).c_str());
    }
}

void TJwwData::BindImageDeleteGzFile() {
    if (BindImageFolder.empty()) return;
    for (size_t i = 0; i < ImageCount(*this); ++i) {
        const std::u16string& name = BindImage[i].Fname;
        if (ImageFileMayExist(i) && IsSafeImageName(name) && HasGzExt(name))
            ::unlink(NativePath(BindImageFolder + name).c_str());
    }
}

void TJwwData::BindImageDeleteNonGzFile() {
    if (BindImageFolder.empty()) return;
    for (size_t i = 0; i < ImageCount(*this); ++i) {
        const std::u16string& name = BindImage[i].Fname;
        if (!ImageFileMayExist(i) || !IsSafeImageName(name)) continue;
        std::u16string shown = ShownName(name);
        if (!shown.empty()) ::unlink(NativePath(BindImageFolder + shown).c_str());
    }
}

// ---- Section reader -----------------------------------------------------------------

void TJwwData::ReadBindImageSection(ByteReader& r) {
    BindImageInit();
    if (!BindImageExp && !BindImageExr) return;
    const int32_t count = r.i32();
    if (count <= 0) return;
    // Entries behind the end of the file would all read as empty: they are not
    // kept, and the list never grows beyond what the file can hold.
    const auto fits = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(count), r.remaining() / kMinEntryBytes));
    BindImage.reserve(fits);
    imageFiles_.reserve(fits);
    std::vector<uint8_t> buf;
    size_t filesMade = 0;
    for (int32_t i = 0; i < count && !r.atEnd(); ++i) {
        TBindImageType e;
        e.Fname = ReadCleanString(r);
        e.Fsize = r.i32();
        BindImage.push_back(e);
        imageFiles_.push_back(kNoImageData);
        BindImageN = static_cast<int32_t>(BindImage.size());
        if (e.Fname.empty() || e.Fsize == 0) continue;  // no data bytes, no file
        // A negative size carries no data bytes either, but the entry still
        // gets its (empty) file, which a text may show and a save then keeps.
        const uint64_t size = e.Fsize < 0 ? 0 : static_cast<uint64_t>(e.Fsize);
        if (BindImageExp && IsSafeImageName(e.Fname)) {
            // Only a shown one of these fails the save; unused images are left out anyway.
            if (BindImageFolder.empty()) {
                r.skip(size);
                imageFiles_.back() = kNoWorkingFolder;
            } else if (filesMade == imageFileLimit_) {
                r.skip(size);
                imageFiles_.back() = kBeyondFileLimit;
            } else {
                ++filesMade;
                if (buf.empty()) buf.resize(kCopyBlock);
                imageFiles_.back() = ExtractImageFile(r, NativePath(BindImageFolder + e.Fname), size, buf);
            }
        } else {
            r.skip(size);
        }
    }
}

// ---- Section writer -----------------------------------------------------------------

namespace {
// An image chosen for writing: its entry and the size it had when it was opened.
struct ImageToWrite {
    size_t index;
    uint32_t size;
};
}  // namespace

bool TJwwData::WriteBindImageSection(ByteWriter& w) {
    const size_t n = ImageCount(*this);
    for (auto& e : BindImage) e.exf = false;

    std::vector<ImageToWrite> chosen;
    if (BindImageExp || BindImageExr) {
        std::vector<char> marks(n, 0);
        // Made at the first reference: a drawing whose texts show no image
        // (most) never sorts its list.
        std::optional<ImageMarker> marker;
        auto mark = [&](std::u16string_view text) {
            const std::u16string ref = ReferencedImageName(text);
            if (ref.empty()) return;
            if (!marker) {
                std::vector<std::u16string> upperNames(n);
                for (size_t i = 0; i < n; ++i) upperNames[i] = UpperCaseStr(BindImage[i].Fname);
                marker.emplace(std::move(upperNames));
            }
            marker->Mark(ref, marks);
        };

        // Entity pass: texts of the drawing order.
        const size_t order = std::min<size_t>(Enthd.n1 > 0 ? static_cast<size_t>(Enthd.n1) : 0, EntNo.size());
        for (size_t k = 0; k < order; ++k) {
            const TEntJwwNo no = EntNo[k];
            if (no.EntType == kKindMoji && no.EntNo >= 0 && no.EntNo < EntMojiN &&
                static_cast<size_t>(no.EntNo) < EntMoji.size())
                mark(EntMoji[static_cast<size_t>(no.EntNo)].str);
        }
        // Block pass: texts of every definition, reached or not.
        const size_t defs = std::min<size_t>(EntBlockDefN > 0 ? static_cast<size_t>(EntBlockDefN) : 0, EntBlockDef.size());
        for (size_t d = 0; d < defs; ++d) {
            const TEntJwwBlockDef& def = EntBlockDef[d];
            const size_t nested = std::min<size_t>(def.N > 0 ? static_cast<size_t>(def.N) : 0, def.mNo.size());
            for (size_t k = 0; k < nested; ++k) {
                const TEntJwwNo no = def.mNo[k];
                if (no.EntType == kKindMoji && no.EntNo >= 0 && no.EntNo < def.mMojiN &&
                    static_cast<size_t>(no.EntNo) < def.mMoji.size())
                    mark(def.mMoji[static_cast<size_t>(no.EntNo)].str);
            }
        }
        // An image a text shows but the load could not write out: leaving it
        // out would give a copy without it that looks complete.
        for (size_t i = 0; i < std::min(n, imageFiles_.size()); ++i) {
            const int reason = imageFiles_[i];
            if (marks[i] && reason != 0 && reason != kNoImageData) {
                SetFailure(kFileIoError, UnwrittenReason(BindImage[i].Fname, reason, imageFileLimit_), false, 0);
                return false;
            }
        }
        // Keep only images that can really be read now: the count written
        // below must match the entries that follow. The size field is 32-bit
        // signed, so a file of 2 GiB or more cannot be stored.
        for (size_t i = 0; i < n; ++i) {
            if (!marks[i] || BindImageFolder.empty() || !IsSafeImageName(BindImage[i].Fname)) continue;
            struct stat st {};
            UniqueFd fd(OpenRegularForReading(NativePath(BindImageFolder + BindImage[i].Fname), &st));
            if (!fd || st.st_size > INT32_MAX) continue;
            BindImage[i].exf = true;
            chosen.push_back({i, static_cast<uint32_t>(st.st_size)});
        }
    }

    w.i32(static_cast<int32_t>(chosen.size()));
    std::vector<uint8_t> buf;
    for (const ImageToWrite& img : chosen) {
        const TBindImageType& e = BindImage[img.index];
        WriteArchiveString(w, e.Fname);
        w.i32(static_cast<int32_t>(img.size));
        if (img.size == 0) continue;
        if (buf.empty()) buf.resize(kCopyBlock);
        // Exactly the size announced; a file that vanished or shrank since it
        // was chosen would leave the section broken, so the save fails.
        UniqueFd fd(OpenRegularForReading(NativePath(BindImageFolder + e.Fname)));
        uint64_t left = img.size;
        while (fd && left > 0 && w.ok()) {
            ssize_t got = ReadSome(fd.get(), buf.data(), static_cast<size_t>(std::min<uint64_t>(left, buf.size())));
            if (got <= 0) break;
            w.write(buf.data(), static_cast<size_t>(got));
            left -= static_cast<uint64_t>(got);
        }
        if (left > 0 && w.ok()) {
            SetFailure(kFileIoError, "bound image file could not be read completely: " + StrToUtf8(e.Fname), false, 0);
            return false;
        }
    }
    return true;
}

}  // namespace morvane
