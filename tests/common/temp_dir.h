#pragma once
// A private scratch folder (mode 0700 from mkdtemp), removed whole with everything in it.
#include <stdlib.h>

#include <filesystem>
#include <string>

namespace jx::test {

struct TempDir {
    std::filesystem::path path;
    TempDir() {
        std::string t = (std::filesystem::temp_directory_path() / "jx_test_XXXXXX").string();
        path = ::mkdtemp(t.data());
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

}  // namespace jx::test
