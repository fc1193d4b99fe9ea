#pragma once
// Small file helpers for the platform tests, and their scratch folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/temp_dir.h"

namespace jx::test {

inline std::string ReadText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteText(const std::filesystem::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

inline mode_t Mode(const std::string& p) {
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Moves a file's times back by the given seconds; a link itself, not its target.
inline bool Age(const std::string& p, int seconds = 3600) {
    const struct timespec t[2] = {{::time(nullptr) - seconds, 0}, {::time(nullptr) - seconds, 0}};
    return ::utimensat(AT_FDCWD, p.c_str(), t, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace jx::test
