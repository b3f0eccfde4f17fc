#include "doc/ByteWriter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace morvane {

namespace {
constexpr size_t kWriteBuffer = 1 << 20;
}

ByteWriter::ByteWriter() = default;

ByteWriter::ByteWriter(int fd) : fd_(fd) { buf_.reserve(kWriteBuffer); }

void ByteWriter::fail(int err) {
    if (ok_) errno_ = err;
    ok_ = false;
}

void ByteWriter::write(const void* src, size_t n) {
    if (!ok_ || n == 0) return;
    if (n > failAfter_ - std::min(failAfter_, total_)) {
        fail(ENOSPC);
        return;
    }
    const uint8_t* p = static_cast<const uint8_t*>(src);
    total_ += n;
    if (fd_ < 0) {
        buf_.insert(buf_.end(), p, p + n);
        return;
    }
    if (buf_.size() + n > kWriteBuffer) {
        if (!flush()) return;
        if (n >= kWriteBuffer) {
            // A large run (image data) goes straight to the file.
            while (n > 0) {
                ssize_t put = ::write(fd_, p, n);
                if (put < 0 && errno == EINTR) continue;
                if (put <= 0) {
                    fail(put < 0 ? errno : ENOSPC);
                    return;
                }
                p += put;
                n -= static_cast<size_t>(put);
            }
            return;
        }
    }
    buf_.insert(buf_.end(), p, p + n);
}

void ByteWriter::fill(uint8_t v, size_t n) {
    uint8_t block[256];
    std::memset(block, v, sizeof block);
    while (n > 0) {
        size_t take = std::min(n, sizeof block);
        write(block, take);
        n -= take;
    }
}

bool ByteWriter::flush() {
    if (fd_ < 0 || !ok_) return ok_;
    size_t off = 0;
    while (off < buf_.size()) {
        ssize_t put = ::write(fd_, buf_.data() + off, buf_.size() - off);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            fail(put < 0 ? errno : ENOSPC);
            break;
        }
        off += static_cast<size_t>(put);
    }
    buf_.clear();
    return ok_;
}

}  // namespace morvane
