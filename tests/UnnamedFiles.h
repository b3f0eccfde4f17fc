// Whether a folder's file system takes unnamed files (O_TMPFILE), as a new
// drawing is saved where it can: where it cannot, a save writes a hidden
// named file instead, which a killed save leaves behind.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

namespace morvane {

inline bool UnnamedFilesIn(const std::filesystem::path& folder) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

}  // namespace morvane
