// The one writer under every section of a JWW file: little-endian scalars and
// byte runs collected in a buffer and handed to the file in large blocks, or
// kept in memory. A failed or short write is remembered (ok() turns false and
// stays false; later writes are dropped), so that a full disk fails the save
// instead of leaving a shortened file reported as written.
//
// A file larger than one buffer is written by a second thread while the next
// buffer fills: copying a large drawing into the file system's cache then
// costs no time of the thread that lays the drawing out. A failure of that
// thread is seen at the next hand-over or at flush() at the latest.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace morvane {

class ByteWriter {
public:
    // Writes into memory; bytes() gives what was written.
    ByteWriter();
    // Writes to an open file descriptor (not owned; flush() before closing it).
    explicit ByteWriter(int fd);
    ~ByteWriter();
    ByteWriter(const ByteWriter&) = delete;
    ByteWriter& operator=(const ByteWriter&) = delete;

    // Test hook: every write beyond this many bytes fails, as on a full disk.
    void failAfter(uint64_t limit) {
        failAfter_ = limit;
        if (total_ > limit) fail(ENOSPC);
    }

    // Writes full buffers on the calling thread instead of a second one (for a
    // writer that already runs beside the thread producing its data).
    void writeInline(bool on) { inline_ = on; }

    // The common case, a field that fits the file buffer, is inline.
    void write(const void* src, size_t n) {
        if (n != 0 && fitsBuffer(n)) {
            std::memcpy(block_.get() + used_, src, n);
            used_ += n;
            total_ += n;
            return;
        }
        writeSlow(src, n);
    }
    // Writes n bytes (8 < n <= 16) given as two little-endian words: bytes
    // 0-7 are `head`, bytes n-8 .. n-1 are `tail`; where they overlap they
    // must agree. The words are stored straight into the buffer: built in a
    // local array and copied, the copy's loads would each span both stores
    // and stall until they drain.
    void writeOverlapped(uint64_t head, uint64_t tail, size_t n) {
        if (fitsBuffer(n)) {
            uint8_t* p = block_.get() + used_;
            std::memcpy(p, &head, 8);
            std::memcpy(p + n - 8, &tail, 8);
            used_ += n;
            total_ += n;
            return;
        }
        uint8_t b[16];
        std::memcpy(b, &head, 8);
        std::memcpy(b + n - 8, &tail, 8);
        writeSlow(b, n);
    }
    template <class T>
    void put(T v) {
        static_assert(std::is_trivially_copyable_v<T>);
        write(&v, sizeof(T));
    }
    void u8(uint8_t v) { put(v); }
    void u16(uint16_t v) { put(v); }
    void u32(uint32_t v) { put(v); }
    void i32(int32_t v) { put(v); }
    void f64(double v) { put(v); }
    void fill(uint8_t v, size_t n);

    // Hands buffered bytes to the file and waits until every byte is written;
    // gives ok().
    bool flush();
    bool ok() const { return ok_; }
    int error() const { return errno_; }
    uint64_t written() const { return total_; }

    // Memory mode only.
    const std::vector<uint8_t>& bytes() const { return bytes_; }

    static constexpr size_t kWriteBuffer = size_t{1} << 20;

private:
    class Background;

    // The fast path: a file writer in good order with room for n more bytes.
    bool fitsBuffer(size_t n) const {
        return fd_ >= 0 && ok_ && n <= kWriteBuffer - used_ && n <= failAfter_ - total_;
    }
    void writeSlow(const void* src, size_t n);
    bool writeAll(const uint8_t* p, size_t n);
    void handOver();
    bool drain();
    void fail(int err);

    int fd_ = -1;
    std::vector<uint8_t> bytes_;          // memory mode: every byte written
    std::unique_ptr<uint8_t[]> block_;  // file mode: kWriteBuffer bytes (not cleared), used_ of them filled
    std::unique_ptr<Background> background_;  // started at the first full buffer
    size_t used_ = 0;
    bool ok_ = true;
    bool inline_ = false;
    int errno_ = 0;
    uint64_t total_ = 0;
    uint64_t failAfter_ = UINT64_MAX;  // total_ never exceeds it while ok_
};

}  // namespace morvane
