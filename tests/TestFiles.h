// Temporary folders, whole-file bytes and gzip data for the file tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/Func_2.h"

namespace morvane::testfiles {

using Bytes = std::vector<uint8_t>;

// A folder of its own for one test (tests run in parallel), removed at the end.
class TempFolder {
public:
    explicit TempFolder(const std::string& tag = "") {
        std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(test.begin(), test.end(), '/', '_');
        path_ = std::filesystem::temp_directory_path() /
                ("morvane_" + std::to_string(::getpid()) + "_" + test + (tag.empty() ? "" : "_" + tag));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // A file in the folder, as the document's paths are given.
    std::u16string U16(const std::string& name) const { return Utf8ToStr((path_ / name).string()); }

private:
    std::filesystem::path path_;
};

// Names in a folder, sorted; hidden files included.
inline std::vector<std::string> FolderNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline Bytes ReadBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::filesystem::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline Bytes BytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

// Bytes that do not compress to nothing: a small generator, stable across runs.
inline Bytes Pattern(size_t n, uint32_t seed = 1) {
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x = x * 1664525u + 1013904223u;
        v = static_cast<uint8_t>(x >> 24);
    }
    return b;
}

// One gzip member of `data`.
inline Bytes Gzip(const Bytes& data) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&zs, data.size()) + 64);
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

inline Bytes Gunzip(const Bytes& gz) {
    z_stream zs{};
    EXPECT_EQ(inflateInit2(&zs, 31), Z_OK);
    Bytes out;
    zs.next_in = const_cast<Bytef*>(gz.data());
    zs.avail_in = static_cast<uInt>(gz.size());
    uint8_t buf[65536];
    int rc = Z_OK;
    while (rc == Z_OK) {
        zs.next_out = buf;
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.insert(out.end(), buf, buf + (sizeof buf - zs.avail_out));
    }
    EXPECT_EQ(rc, Z_STREAM_END);
    inflateEnd(&zs);
    return out;
}

inline void Append(Bytes& to, const Bytes& b) { to.insert(to.end(), b.begin(), b.end()); }

inline void PutI32(Bytes& to, int32_t v) {
    for (int i = 0; i < 4; ++i) to.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
}

}  // namespace morvane::testfiles
