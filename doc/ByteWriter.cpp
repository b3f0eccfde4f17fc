#include "doc/ByteWriter.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "doc/FileHandle.h"

namespace morvane {

// The thread that writes full buffers while the next one fills. One buffer
// is in its hands at a time; the owner waits for it before handing over the
// next, so the file receives the buffers in order.
class ByteWriter::Background {
public:
    explicit Background(int fd)
        : fd_(fd), block_(std::make_unique_for_overwrite<uint8_t[]>(kWriteBuffer)), thread_([this] { Run(); }) {}
    ~Background() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    // Waits until the previous block is written; gives its error (0: none).
    int Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_; });
        return error_;
    }

    // Swaps `buf` (n bytes filled) with the free block and starts writing it.
    // Call after Wait() gave 0.
    void Start(std::unique_ptr<uint8_t[]>& buf, size_t n) {
        {
            std::lock_guard lock(mutex_);
            block_.swap(buf);
            length_ = n;
            busy_ = true;
        }
        changed_.notify_all();
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return busy_ || stop_; });
            if (!busy_) return;
            lock.unlock();
            const int err = WriteAll(fd_, block_.get(), length_) ? 0 : errno;
            lock.lock();
            if (err != 0 && error_ == 0) error_ = err;
            busy_ = false;
            changed_.notify_all();
        }
    }

    const int fd_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::unique_ptr<uint8_t[]> block_;  // written by the thread while busy_
    size_t length_ = 0;
    bool busy_ = false;
    bool stop_ = false;
    int error_ = 0;
    std::thread thread_;  // last: starts once the members above exist
};

ByteWriter::ByteWriter() = default;

// The file buffer is sized once and never cleared (a save of a small
// drawing would otherwise clear a megabyte); used_ says how much holds bytes.
ByteWriter::ByteWriter(int fd) : fd_(fd), block_(std::make_unique_for_overwrite<uint8_t[]>(kWriteBuffer)) {}

ByteWriter::~ByteWriter() = default;

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
        bytes_.insert(bytes_.end(), p, p + n);
        return;
    }
    if (n >= kWriteBuffer) {
        // A large run (image data) goes straight to the file, after every
        // byte before it.
        if (flush()) writeAll(p, n);
        return;
    }
    // Fill the buffer to the brim, hand it over and keep the rest.
    const size_t take = std::min(n, kWriteBuffer - used_);
    std::memcpy(block_.get() + used_, p, take);
    used_ += take;
    if (used_ < kWriteBuffer) return;
    handOver();
    if (!ok_) return;
    std::memcpy(block_.get(), p + take, n - take);
    used_ = n - take;
}

// Gives the full buffer to the background thread, once it has written the
// previous one.
void ByteWriter::handOver() {
    if (inline_ && !background_) {
        const size_t n = used_;
        used_ = 0;
        writeAll(block_.get(), n);
        return;
    }
    if (!background_) {
        try {
            background_ = std::make_unique<Background>(fd_);
        } catch (const std::system_error&) {
            // No thread to be had: write here and now.
            const size_t n = used_;
            used_ = 0;
            writeAll(block_.get(), n);
            return;
        }
    }
    if (const int err = background_->Wait()) {
        fail(err);
        return;
    }
    background_->Start(block_, used_);
    used_ = 0;
}

// Waits for the background thread; false (with its error) if it failed.
bool ByteWriter::drain() {
    if (!background_) return ok_;
    if (const int err = background_->Wait()) fail(err);
    return ok_;
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
    if (fd_ < 0 || !drain()) return ok_;
    const size_t n = used_;
    used_ = 0;
    return writeAll(block_.get(), n);
}

}  // namespace morvane
