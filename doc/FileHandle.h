// Small POSIX file helpers for the drivers and the bound-image files: a file
// descriptor that closes itself, whole-block reads and writes that survive
// EINTR and short transfers, and the two ways this program opens files in the
// working folder (never through a link that someone else put there).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o) {
            Reset();
            fd_ = o.fd_;
            o.fd_ = -1;
        }
        return *this;
    }

    explicit operator bool() const { return fd_ >= 0; }
    int get() const { return fd_; }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Closes and reports whether the close succeeded: on some file systems a
    // delayed write error is only told by close().
    bool Close() {
        if (fd_ < 0) return false;
        int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_ = -1;
};

// Writes all n bytes; false on any error (errno tells which) or when the file
// system stops taking bytes.
inline bool WriteAll(int fd, const void* src, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(src);
    while (n > 0) {
        ssize_t put = ::write(fd, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = ENOSPC;
            return false;
        }
        p += put;
        n -= static_cast<size_t>(put);
    }
    return true;
}

// Reads up to n bytes; 0 at the end of the file, -1 on an error.
inline ssize_t ReadSome(int fd, void* dst, size_t n) {
    for (;;) {
        ssize_t got = ::read(fd, dst, n);
        if (got < 0 && errno == EINTR) continue;
        return got;
    }
}

// Copies the rest of `in`, from its offset on, to the end of `out`; false on
// any read or write error.
inline bool CopyFileData(int in, int out) {
    // The kernel copies without a round trip through this process when it can.
    for (;;) {
        ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n > 0) continue;
        if (n == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) return false;
        break;  // not supported here: copy by hand from where it stopped
    }
    std::vector<uint8_t> buf(256 * 1024);
    for (;;) {
        ssize_t got = ReadSome(in, buf.data(), buf.size());
        if (got < 0) return false;
        if (got == 0) return true;
        if (!WriteAll(out, buf.data(), static_cast<size_t>(got))) return false;
    }
}

// Opens a regular file for reading without following a link at its last
// component. Gives -1 for anything else (missing, folder, link, device). The
// open does not block, so that a FIFO under that name cannot stall the run.
inline int OpenRegularForReading(const std::string& path, struct stat* st = nullptr) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat s {};
    if (::fstat(fd, &s) != 0 || !S_ISREG(s.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (st) *st = s;
    return fd;
}

// Creates `path` as a new, empty regular file, replacing a file of that name.
// The old entry is removed first and the new one created exclusively, so a
// link planted under that name is replaced, never followed. Gives -1 (errno
// set) when the name is taken by something that cannot be removed (a folder)
// or the file cannot be created.
inline int CreateFreshFile(const std::string& path) {
    ::unlink(path.c_str());  // a missing file is the usual case
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

}  // namespace morvane
