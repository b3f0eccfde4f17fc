// The one reader under every section of a JWW file: a cursor over a file (read
// through a large buffer, never a system call per field) or over bytes in memory.
// A large file is read through a window of it mapped into memory instead, so
// that its bytes are not copied on their way in; the window moves on as the
// cursor does, and only the window counts in the process's memory.
//
// Short reads follow the format's rule: a read delivers what the input still
// holds, the bytes it could not deliver stay as the destination held them, and
// the read itself raises nothing. Callers check the delivered count where the
// format names a check. Lengths are compared with remaining(), never as
// position + n > size, so that hostile lengths cannot overflow.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

namespace morvane {

class ByteReader {
public:
    // Reads from bytes in memory (the bytes must outlive the reader).
    explicit ByteReader(std::span<const uint8_t> bytes);
    ~ByteReader();
    ByteReader(const ByteReader&) = delete;
    ByteReader& operator=(const ByteReader&) = delete;

    // Opens a file for reading. Gives nullptr when it cannot be opened (or is
    // not a regular file); errnoOut receives the reason.
    static std::unique_ptr<ByteReader> OpenFile(const std::string& nativePath, int* errnoOut = nullptr);

    // Files from this size on are read through a mapped window of this size
    // (a multiple of the page size); tests set smaller ones, 0 0 restores the
    // default. A file whose window cannot be mapped is read through the buffer.
    static void SetMappingForTest(uint64_t fromBytes, size_t windowBytes);
    // The same for as long as it lives.
    class MappingForTest {
    public:
        MappingForTest(uint64_t fromBytes, size_t windowBytes) { SetMappingForTest(fromBytes, windowBytes); }
        ~MappingForTest() { SetMappingForTest(0, 0); }
        MappingForTest(const MappingForTest&) = delete;
        MappingForTest& operator=(const MappingForTest&) = delete;
    };

    // True once part of a mapped file could not be read: the file was cut
    // short by another program while it was read, or its storage failed. The
    // bytes from there on read as zeros, so whatever was read from them is
    // not the file's; failedAt() is where the first such page began.
    bool inputFailed() const;
    uint64_t failedAt() const;

    uint64_t position() const { return pos_; }
    uint64_t size() const { return size_; }
    uint64_t remaining() const { return pos_ < size_ ? size_ - pos_ : 0; }
    bool atEnd() const { return remaining() == 0; }

    // Copies up to n bytes into dst and gives the number delivered; the bytes
    // of dst behind that count are left untouched. The common case, bytes
    // already at hand, is inline: most reads are a field of a few bytes.
    size_t read(void* dst, size_t n) {
        if (n == 0) return 0;
        if (n <= kInlineRead)
            if (const uint8_t* at = take(n)) {
                std::memcpy(dst, at, n);
                return n;
            }
        return readSlow(dst, n);
    }
    // The next n bytes where they are all at hand (and moves past them), or
    // null (and moves nowhere): lets a caller copy a record of a size known
    // at compile time without a call.
    const uint8_t* take(size_t n) {
        if (n > remaining()) return nullptr;
        if (mem_) {
            const uint8_t* p = mem_ + pos_;
            pos_ += n;
            return p;
        }
        const uint64_t off = pos_ - bufStart_;  // wraps when pos_ < bufStart_
        if (pos_ < bufStart_ || off >= bufLen_ || n > bufLen_ - off) return nullptr;
        pos_ += n;
        return data_ + off;
    }
    // Skips up to n bytes and gives the number skipped.
    uint64_t skip(uint64_t n);

    // Reads a little-endian scalar over a copy of `current`: the bytes that the
    // input cannot deliver keep their value from `current`. Works for packed
    // fields: `rec.x = r.value(rec.x);`.
    template <class T>
    T value(T current, size_t* delivered = nullptr) {
        static_assert(std::is_trivially_copyable_v<T>);
        size_t got = read(&current, sizeof(T));
        if (delivered) *delivered = got;
        return current;
    }
    uint8_t u8() { return value<uint8_t>(0); }
    uint16_t u16() { return value<uint16_t>(0); }
    uint32_t u32() { return value<uint32_t>(0); }
    int32_t i32() { return value<int32_t>(0); }
    double f64() { return value<double>(0.0); }

private:
    // Reads up to this size take the inline path; larger runs go out of line.
    static constexpr size_t kInlineRead = size_t{1} << 16;

    ByteReader() = default;
    size_t readSlow(void* dst, size_t n);
    // Refills the buffer from the file, or maps the window holding the cursor;
    // gives the bytes now at hand from the cursor on.
    size_t fill();
    size_t fillBuffer();
    bool mapWindow();
    void unmapWindow();
    void readThroughBuffer();

    // Memory mode: mem_ points at all the bytes. File mode: fd_ >= 0 and
    // data_ holds the bytes [bufStart_, bufStart_ + bufLen_) of the file,
    // either in buf_ or, while mapped_, in the window mapped at data_.
    const uint8_t* mem_ = nullptr;
    int fd_ = -1;
    std::vector<uint8_t> buf_;
    const uint8_t* data_ = nullptr;
    bool mapped_ = false;
    int slot_ = -1;      // the mapped window's entry in the table the bus-error handler reads
    size_t window_ = 0;  // size of the mapped windows
    mutable uint64_t failedAt_ = UINT64_MAX;
    uint64_t bufStart_ = 0;
    size_t bufLen_ = 0;
    uint64_t pos_ = 0;
    uint64_t size_ = 0;
};

}  // namespace morvane
