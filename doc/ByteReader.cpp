#include "doc/ByteReader.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>

namespace morvane {

namespace {
constexpr size_t kReadBuffer = 1 << 20;

// Files from 8 MiB on are mapped, 32 MiB at a time: a window is mapped and
// unmapped a handful of times for the largest drawings, and a small file
// keeps the buffer, whose one copy costs less than setting up a mapping.
constexpr uint64_t kMapFromDefault = uint64_t{8} << 20;
constexpr size_t kWindowDefault = size_t{32} << 20;
std::atomic<uint64_t> mapFrom{kMapFromDefault};
std::atomic<size_t> windowBytes{kWindowDefault};

// Reading a page of a mapped file that has none any more (another program
// cut the file short after it was mapped), or whose storage fails, raises
// SIGBUS where a read() would have returned short or failed. The handler
// looks the address up among the windows in use. Inside one, it maps zeros
// over the rest of the window, notes the page and lets the read go on: the
// reader then delivers zeros, and the load asks inputFailed() before it
// trusts what it read. Anywhere else the fault is not ours, and the
// disposition from before takes it when the faulting instruction runs again.
struct WindowEntry {
    std::atomic<bool> used{false};
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
    std::atomic<uintptr_t> fault{0};  // the first page read as zeros, or 0
};
static_assert(std::atomic<uintptr_t>::is_always_lock_free, "read by a signal handler");
constexpr int kWindowEntries = 64;  // readers at once; any beyond read through a buffer
WindowEntry windowTable[kWindowEntries];
struct sigaction busActionBefore;
uintptr_t pageSize = 4096;
std::once_flag busHandlerInstalled;

void OnBusError(int sig, siginfo_t* info, void*) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
    if (info->si_code > 0) {  // raised by a fault, not sent
        for (WindowEntry& w : windowTable) {
            const uintptr_t begin = w.begin.load(std::memory_order_acquire);
            const uintptr_t end = w.end.load(std::memory_order_acquire);
            if (at < begin || at >= end) continue;
            const uintptr_t page = at & ~(pageSize - 1);
            void* zeros = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
            if (zeros == MAP_FAILED) break;
            uintptr_t none = 0;
            w.fault.compare_exchange_strong(none, page, std::memory_order_acq_rel);
            return;
        }
    }
    ::sigaction(SIGBUS, &busActionBefore, nullptr);
    if (info->si_code <= 0) ::raise(sig);
}

void InstallBusHandler() {
    pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction act {};
    act.sa_sigaction = OnBusError;
    act.sa_flags = SA_SIGINFO;
    sigemptyset(&act.sa_mask);
    ::sigaction(SIGBUS, &act, &busActionBefore);
}

int ClaimWindowEntry() {
    std::call_once(busHandlerInstalled, InstallBusHandler);
    for (int i = 0; i < kWindowEntries; ++i) {
        bool free = false;
        if (windowTable[i].used.compare_exchange_strong(free, true, std::memory_order_acq_rel)) {
            windowTable[i].fault.store(0, std::memory_order_relaxed);
            return i;
        }
    }
    return -1;
}

void ReleaseWindowEntry(int i) { windowTable[i].used.store(false, std::memory_order_release); }

}  // namespace

void ByteReader::SetMappingForTest(uint64_t fromBytes, size_t window) {
    if (fromBytes == 0 && window == 0) {
        fromBytes = kMapFromDefault;
        window = kWindowDefault;
    }
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    mapFrom.store(fromBytes);
    windowBytes.store(std::max(page, (window + page - 1) / page * page));
}

ByteReader::ByteReader(std::span<const uint8_t> bytes) : mem_(bytes.data()), size_(bytes.size()) {}

ByteReader::~ByteReader() {
    unmapWindow();
    if (slot_ >= 0) ReleaseWindowEntry(slot_);
    if (fd_ >= 0) ::close(fd_);
}

bool ByteReader::inputFailed() const { return failedAt() != UINT64_MAX; }

uint64_t ByteReader::failedAt() const {
    if (failedAt_ == UINT64_MAX && slot_ >= 0 && mapped_) {
        const uintptr_t page = windowTable[slot_].fault.load(std::memory_order_acquire);
        if (page != 0) failedAt_ = bufStart_ + (page - reinterpret_cast<uintptr_t>(data_));
    }
    return failedAt_;
}

// Maps the window that holds the cursor, from the page it lies in.
bool ByteReader::mapWindow() {
    unmapWindow();
    const uint64_t start = pos_ / pageSize * pageSize;
    const size_t length = static_cast<size_t>(std::min<uint64_t>(window_, size_ - start));
    void* p = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd_, static_cast<off_t>(start));
    if (p == MAP_FAILED) return false;
    ::madvise(p, length, MADV_SEQUENTIAL);
    WindowEntry& w = windowTable[slot_];
    w.begin.store(reinterpret_cast<uintptr_t>(p), std::memory_order_release);
    w.end.store(reinterpret_cast<uintptr_t>(p) + length, std::memory_order_release);
    data_ = static_cast<const uint8_t*>(p);
    bufStart_ = start;
    bufLen_ = length;
    return true;
}

void ByteReader::unmapWindow() {
    if (!mapped_ || bufLen_ == 0) return;
    failedAt();  // a fault in this window is noted before its address means nothing
    WindowEntry& w = windowTable[slot_];
    w.end.store(0, std::memory_order_release);
    w.begin.store(0, std::memory_order_release);
    ::munmap(const_cast<uint8_t*>(data_), bufLen_);
    data_ = nullptr;
    bufLen_ = 0;
}

// Goes on through the buffer where a window cannot be mapped (the address
// space is exhausted, say). Nothing was read through the file offset, which
// is still 0: with the buffer empty there, the next fill seeks to the cursor.
void ByteReader::readThroughBuffer() {
    unmapWindow();
    mapped_ = false;
    buf_.resize(static_cast<size_t>(std::min<uint64_t>(kReadBuffer, std::max<uint64_t>(size_, 1))));
    data_ = buf_.data();
    bufStart_ = 0;
    bufLen_ = 0;
}

std::unique_ptr<ByteReader> ByteReader::OpenFile(const std::string& nativePath, int* errnoOut) {
    // Opened without blocking: a FIFO put in a drawing's place would otherwise
    // hold the open until some other program writes to it. Regular files
    // ignore the flag; it is cleared again before reading all the same.
    int fd = ::open(nativePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errnoOut) *errnoOut = errno;
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (errnoOut) *errnoOut = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    std::unique_ptr<ByteReader> r(new ByteReader());
    r->fd_ = fd;
    r->size_ = static_cast<uint64_t>(st.st_size);
    if (r->size_ >= mapFrom.load() && (r->slot_ = ClaimWindowEntry()) >= 0) {
        r->mapped_ = true;  // the first window is mapped by the first read
        r->window_ = windowBytes.load();
        return r;
    }
    r->buf_.resize(static_cast<size_t>(std::min<uint64_t>(kReadBuffer, std::max<uint64_t>(r->size_, 1))));
    r->data_ = r->buf_.data();
    return r;
}

size_t ByteReader::fill() {
    if (mapped_) {
        if (pos_ >= size_) return 0;
        if (mapWindow()) return static_cast<size_t>(bufLen_ - (pos_ - bufStart_));
        readThroughBuffer();
    }
    return fillBuffer();
}

size_t ByteReader::fillBuffer() {
    // Keep the file offset equal to bufStart_ + bufLen_.
    bufStart_ += bufLen_;
    bufLen_ = 0;
    if (bufStart_ != pos_) {
        if (::lseek(fd_, static_cast<off_t>(pos_), SEEK_SET) < 0) return 0;
        bufStart_ = pos_;
    }
    while (bufLen_ < buf_.size()) {
        ssize_t got = ::read(fd_, buf_.data() + bufLen_, buf_.size() - bufLen_);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        bufLen_ += static_cast<size_t>(got);
        break;  // deliver what arrived; the next fill continues
    }
    return bufLen_;
}

size_t ByteReader::readSlow(void* dst, size_t n) {
    if (n == 0) return 0;
    uint8_t* out = static_cast<uint8_t*>(dst);
    size_t want = static_cast<size_t>(std::min<uint64_t>(n, remaining()));
    if (mem_) {
        std::memcpy(out, mem_ + pos_, want);
        pos_ += want;
        return want;
    }
    size_t done = 0;
    while (done < want) {
        if (pos_ >= bufStart_ && pos_ < bufStart_ + bufLen_) {
            size_t off = static_cast<size_t>(pos_ - bufStart_);
            size_t take = std::min(want - done, bufLen_ - off);
            std::memcpy(out + done, data_ + off, take);
            done += take;
            pos_ += take;
            continue;
        }
        if (!mapped_ && want - done >= buf_.size()) {
            // Large block (image data): read straight into the destination.
            if (::lseek(fd_, static_cast<off_t>(pos_), SEEK_SET) < 0) break;
            ssize_t got = ::read(fd_, out + done, want - done);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<size_t>(got);
            pos_ += static_cast<uint64_t>(got);
            bufStart_ = pos_;
            bufLen_ = 0;
            continue;
        }
        if (fill() == 0) break;
    }
    return done;
}

uint64_t ByteReader::skip(uint64_t n) {
    uint64_t take = std::min(n, remaining());
    pos_ += take;
    return take;
}

}  // namespace morvane
