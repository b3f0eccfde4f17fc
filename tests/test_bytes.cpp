// The byte reader and writer under every section.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "doc/ByteReader.h"
#include "doc/ByteWriter.h"
#include "tests/ReadingModes.h"
#include "tests/TempFolder.h"

using namespace morvane;

TEST(ByteReader, ShortReadKeepsDestinationBytes) {
    const uint8_t bytes[] = {0x01, 0x02, 0x03};
    ByteReader r(bytes);
    EXPECT_EQ(r.u16(), 0x0201);
    size_t got = 99;
    uint32_t v = r.value<uint32_t>(0xAABBCCDD, &got);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(v, 0xAABBCC03u);  // the missing bytes keep their earlier value
    EXPECT_TRUE(r.atEnd());
    EXPECT_EQ(r.u8(), 0);
}

TEST(ByteReader, HugeSkipAndReadStopAtEnd) {
    const uint8_t bytes[] = {1, 2, 3, 4};
    ByteReader t(bytes);
    EXPECT_EQ(t.take(5), nullptr);  // more than the input holds: nothing taken
    EXPECT_EQ(t.position(), 0u);
    EXPECT_EQ(t.take(3), bytes);
    EXPECT_EQ(t.position(), 3u);
    EXPECT_EQ(t.take(2), nullptr);
    EXPECT_EQ(t.u8(), 4);
    ByteReader r(bytes);
    EXPECT_EQ(r.skip(UINT64_MAX), 4u);
    uint8_t out[8] = {};
    EXPECT_EQ(r.read(out, SIZE_MAX), 0u);
}

TEST(ByteReader, FileReadsAcrossBufferRefillsAndLargeBlocks) {
    auto path = std::filesystem::temp_directory_path() / ("morvane_bytes_" + std::to_string(::getpid()));
    std::vector<uint8_t> data(3 * 1024 * 1024 + 17);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
    { std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(data.data()), data.size()); }
    for (const ReadingMode& mode : kReadingModes) {
        SCOPED_TRACE(mode.name);
        ReadIn in(mode);
        auto r = ByteReader::OpenFile(path.string());
        ASSERT_TRUE(r);
        EXPECT_EQ(r->size(), data.size());
        std::vector<uint8_t> got(data.size());
        size_t off = 0;
        // Small reads, a skip, a block larger than the buffer, then the tail.
        for (; off < 1000; off += 4) ASSERT_EQ(r->read(&got[off], 4), 4u);
        ASSERT_EQ(r->skip(5000), 5000u);
        off += 5000;
        ASSERT_EQ(r->read(&got[off], 2 * 1024 * 1024), 2u * 1024 * 1024);
        off += 2 * 1024 * 1024;
        size_t rest = data.size() - off;
        ASSERT_EQ(r->read(&got[off], rest + 10), rest);
        EXPECT_TRUE(std::equal(got.begin() + 6000, got.end(), data.begin() + 6000));
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + 1000, data.begin()));
    }
    std::filesystem::remove(path);
}

// Records of 47 bytes (a line's fixed part) to the end of a file of a little
// more than a buffer, as the entity reader takes them, after a first read of
// 0 to 46 bytes: the record across the buffer's end straddles it by every
// amount in turn, and must be read, not taken. Likewise across the ends of
// mapped windows.
TEST(ByteReader, RecordsTakenOrReadAcrossBuffers) {
    TempFolder tmp;
    std::vector<uint8_t> data(1024 * 1024 + 4099);
    // No zero byte: a record taken past the end of the buffer would read the
    // zeros behind it unnoticed.
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(1 + (i * 31 + (i >> 9)) % 255);
    const auto path = tmp.Write("records.bin", std::string(data.begin(), data.end()));
    constexpr size_t kRecord = 47;
    for (const ReadingMode& mode : kReadingModes) {
        SCOPED_TRACE(mode.name);
        ReadIn in(mode);
        const size_t window = mode.mapFrom == 0 ? std::max<size_t>(mode.window, 4096) : 1024 * 1024;
        for (size_t first = 0; first < kRecord; ++first) {
            auto r = ByteReader::OpenFile(path.string());
            ASSERT_TRUE(r);
            std::vector<uint8_t> got(first);
            ASSERT_EQ(r->read(got.data(), first), first);
            size_t taken = 0;
            while (!r->atEnd()) {
                uint8_t rec[kRecord];
                size_t n = kRecord;
                if (const uint8_t* at = r->take(kRecord)) {
                    std::copy(at, at + kRecord, rec);
                    ++taken;
                } else {
                    n = r->read(rec, kRecord);
                }
                got.insert(got.end(), rec, rec + n);
            }
            ASSERT_TRUE(got == data) << "after a first read of " << first;
            EXPECT_GT(taken, data.size() / kRecord - data.size() / window - 4);  // all but those across an end
        }
    }
}

// A file of several buffers walked by small reads, reads across buffers,
// skips and runs larger than a buffer: every step delivers what the same walk
// over the bytes in memory delivers.
TEST(ByteReader, FileDeliversWhatMemoryDelivers) {
    TempFolder tmp;
    std::vector<uint8_t> data(9 * 1024 * 1024 + 17);
    uint32_t x = 7;
    auto next = [&x] { return x = x * 1664525u + 1013904223u; };
    for (uint8_t& b : data) b = static_cast<uint8_t>(next() >> 24);
    const auto path = tmp.Write("big.bin", std::string(data.begin(), data.end()));
    for (const ReadingMode& mode : kReadingModes) {
        SCOPED_TRACE(mode.name);
        ReadIn in(mode);
        x = 11;
        auto file = ByteReader::OpenFile(path.string());
        ASSERT_TRUE(file);
        ByteReader memory(data);
        for (int step = 0; step < 3000 && !memory.atEnd(); ++step) {
            const uint32_t op = next() % 100;
            size_t n;
            if (op < 80) {
                n = 1 + next() % 64;  // a field
            } else if (op < 95) {
                n = next() % (3 << 20) + 1;  // across blocks, or a large run
            } else {
                n = 0;
            }
            if (n == 0) {
                const uint64_t skip = next() % (2 << 20);
                ASSERT_EQ(file->skip(skip), memory.skip(skip));
            } else {
                std::vector<uint8_t> a(n, 0xEE), b(n, 0xEE);
                size_t got = 0;
                const uint64_t before = file->position();
                // Half of the fields as a record is read: taken where the bytes
                // are at hand, read where they are not (taking moves nowhere then).
                const uint8_t* at = op % 2 ? file->take(n) : nullptr;
                if (at) {
                    std::copy(at, at + n, a.begin());
                    got = n;
                } else {
                    ASSERT_EQ(file->position(), before);
                    got = file->read(a.data(), n);
                }
                ASSERT_EQ(got, memory.read(b.data(), n)) << "step " << step;
                ASSERT_TRUE(a == b) << "step " << step << " at " << memory.position();
            }
            ASSERT_EQ(file->position(), memory.position());
        }
        EXPECT_TRUE(memory.atEnd());
        EXPECT_TRUE(file->atEnd());
        EXPECT_EQ(file->take(1), nullptr);
        EXPECT_EQ(memory.take(1), nullptr);
        EXPECT_FALSE(file->inputFailed());
    }
}

// Another program cuts a mapped file short while it is read: the pages it no
// longer has read as zeros instead of ending the process, and the reader says
// from where. The page the new end falls in still holds the bytes before it.
TEST(ByteReader, MappedFileCutShortReadsZerosAndSaysWhere) {
    const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    TempFolder tmp;
    std::string data(10 * page, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(1 + i % 251);
    for (const ReadingMode& mode : kReadingModes) {
        if (mode.mapFrom != 0) continue;
        SCOPED_TRACE(mode.name);
        ReadIn in(mode);
        const auto path = tmp.Write("cut.bin", data);
        auto r = ByteReader::OpenFile(path.string());
        ASSERT_TRUE(r);
        std::string got(data.size(), '\xEE');
        ASSERT_EQ(r->read(got.data(), 100), 100u);
        const size_t cut = 2 * page + 100;
        std::filesystem::resize_file(path, cut);
        ASSERT_EQ(r->read(got.data() + 100, data.size()), data.size() - 100);  // as many as the file had
        EXPECT_EQ(got.substr(0, cut), data.substr(0, cut));
        EXPECT_EQ(got.substr(cut), std::string(data.size() - cut, '\0'));
        EXPECT_TRUE(r->inputFailed());
        EXPECT_EQ(r->failedAt(), 3 * page);
    }
}

// Bus errors that are not a reader's keep ending the process once readers
// have mapped files: one sent to it, and one from a mapping of its own.
TEST(ByteReaderDeathTest, OtherBusErrorsStillEndTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempFolder tmp;
    ReadIn in(kPageWindows);
    const auto path = tmp.Write("any.bin", std::string(8192, 'x'));
    auto r = ByteReader::OpenFile(path.string());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->u8(), 'x');  // a window is mapped: the handler is in place
    EXPECT_DEATH(::raise(SIGBUS), "");
    EXPECT_DEATH(
        {
            const int fd = ::open(path.c_str(), O_RDWR);
            void* p = ::mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fd, 0);
            if (p == MAP_FAILED || ::ftruncate(fd, 0) != 0) ::_exit(0);
            std::printf("%d\n", static_cast<volatile const char*>(p)[4096]);
        },
        "");
}

TEST(ByteReader, MissingFileAndFolderDoNotOpen) {
    int err = 0;
    EXPECT_FALSE(ByteReader::OpenFile("/nonexistent/x.jww", &err));
    EXPECT_NE(err, 0);
    EXPECT_FALSE(ByteReader::OpenFile("/tmp"));
}

TEST(ByteWriter, LittleEndianAndFailureAfterLimit) {
    ByteWriter w;
    w.u16(0x1234);
    w.i32(-2);
    w.f64(1.0);
    const std::vector<uint8_t> want = {0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
    EXPECT_EQ(w.bytes(), want);

    ByteWriter words;
    words.writeOverlapped(0x0807060504030201ull, 0x0F0E0D0C0B0A0908ull, 15);
    words.writeOverlapped(0x0807060504030201ull, 0x0C0B0A0908070605ull, 12);
    const std::vector<uint8_t> counted = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
                                          1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(words.bytes(), counted);

    ByteWriter limited;
    limited.failAfter(3);
    limited.u16(1);
    EXPECT_TRUE(limited.ok());
    limited.u16(2);
    EXPECT_FALSE(limited.ok());
    limited.u8(3);  // dropped after the failure
    EXPECT_EQ(limited.written(), 2u);
}

TEST(ByteWriter, FileWriterReportsAFullDisk) {
    int fd = ::open("/dev/full", O_WRONLY);
    if (fd < 0) GTEST_SKIP() << "/dev/full is not available";
    ByteWriter w(fd);
    w.fill(0x20, 100);
    EXPECT_FALSE(w.flush());
    ::close(fd);

    // Several buffers: the failure happens on the background thread and is
    // reported all the same, with its cause; later bytes are dropped.
    fd = ::open("/dev/full", O_WRONLY);
    ByteWriter big(fd);
    std::vector<uint8_t> piece(1000, 0x41);
    for (int i = 0; i < 5000; ++i) big.write(piece.data(), piece.size());
    EXPECT_FALSE(big.ok());
    EXPECT_FALSE(big.flush());
    EXPECT_EQ(big.error(), ENOSPC);
    ::close(fd);
}

// Pieces of every size, across many buffers, with runs larger than a buffer
// in between: the file holds exactly the bytes in their order.
TEST(ByteWriter, FileHoldsEveryByteInOrder) {
    TempFolder tmp;
    const auto path = tmp.path() / "out.bin";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> want;
    {
        ByteWriter w(fd);
        uint32_t x = 12345;
        auto next = [&x] { return x = x * 1103515245u + 12345u; };
        for (int i = 0; i < 4000; ++i) {
            size_t n = next() % 3000;
            if (i == 0) n = ByteWriter::kWriteBuffer - 7;  // the attribute below straddles the buffer's end
            if (i % 700 == 699) n = ByteWriter::kWriteBuffer + next() % 5000;  // image data
            std::vector<uint8_t> piece(n);
            for (uint8_t& b : piece) b = static_cast<uint8_t>(next() >> 24);
            w.write(piece.data(), n);
            want.insert(want.end(), piece.begin(), piece.end());
            // An attribute: 15 bytes as two words that share byte 7.
            const uint64_t head = uint64_t{next()} << 32 | next();
            const uint64_t tail = (uint64_t{next()} << 32 | next()) << 8 | head >> 56;
            w.writeOverlapped(head, tail, 15);
            for (int k = 0; k < 8; ++k) want.push_back(static_cast<uint8_t>(head >> 8 * k));
            for (int k = 1; k < 8; ++k) want.push_back(static_cast<uint8_t>(tail >> 8 * k));
        }
        w.u32(0xDEADBEEF);
        for (uint8_t b : {0xEF, 0xBE, 0xAD, 0xDE}) want.push_back(b);
        ASSERT_TRUE(w.flush());
        EXPECT_EQ(w.written(), want.size());
    }
    ::close(fd);
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
}
