#include "doc/ByteReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace morvane {

namespace {
constexpr size_t kReadBuffer = 1 << 20;
}

ByteReader::ByteReader(std::span<const uint8_t> bytes) : mem_(bytes.data()), size_(bytes.size()) {}

ByteReader::~ByteReader() {
    if (fd_ >= 0) ::close(fd_);
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
    r->buf_.resize(static_cast<size_t>(std::min<uint64_t>(kReadBuffer, std::max<uint64_t>(r->size_, 1))));
    return r;
}

size_t ByteReader::fill() {
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
            std::memcpy(out + done, buf_.data() + off, take);
            done += take;
            pos_ += take;
            continue;
        }
        if (want - done >= buf_.size()) {
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
