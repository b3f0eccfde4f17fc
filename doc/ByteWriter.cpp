#include "doc/ByteWriter.h"

#include <unistd.h>

#include <algorithm>

namespace morvane {

ByteWriter::ByteWriter() = default;

// The file buffer is sized once; used_ says how much of it holds bytes.
ByteWriter::ByteWriter(int fd) : fd_(fd), buf_(kWriteBuffer) {}

void ByteWriter::fail(int err) {
    if (ok_) errno_ = err;
    ok_ = false;
}

bool ByteWriter::writeAll(const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t put = ::write(fd_, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            fail(put < 0 ? errno : ENOSPC);
            return false;
        }
        p += put;
        n -= static_cast<size_t>(put);
    }
    return true;
}

void ByteWriter::writeSlow(const void* src, size_t n) {
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
    if (!flush()) return;
    if (n >= kWriteBuffer) {
        writeAll(p, n);  // a large run (image data) goes straight to the file
        return;
    }
    std::memcpy(buf_.data(), p, n);
    used_ = n;
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
    const size_t n = used_;
    used_ = 0;
    return writeAll(buf_.data(), n);
}

}  // namespace morvane
