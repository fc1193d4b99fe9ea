#pragma once
// Feeds one input to a reader. A refusal with a message is the expected outcome for damaged
// data; anything else (a crash, a sanitizer report, an error without a message, our own output
// that does not load again) is a finding.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "fileio/errors.h"

extern "C" char** environ;

namespace fuzz {

// Stops the run with the finding's text.
[[noreturn]] inline void Finding(const std::string& what) {
    std::fprintf(stderr, "FINDING: %s\n", what.c_str());
    std::abort();
}

// Runs a reader: the errors of the project's libraries all derive from std::runtime_error and
// carry their message; an empty message is a finding.
template <typename F>
bool Refused(F&& read) {
    try {
        read();
        return false;
    } catch (const std::runtime_error& e) {
        if (std::string(e.what()).empty()) Finding("an error without a message");
        return true;
    }
}

namespace detail {

// A run that stops on a finding ends in abort, a sanitizer report, a deadly signal or a kill,
// where no destructor runs. A child in its own process group waits for the end of this process
// (the pipe's write end closes with it, however it ends) and removes the folder then.
inline void RemoveWhenProcessEnds(const std::string& folder) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) Finding("no pipe for the scratch folder's clean-up");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    const char* argv[] = {"sh", "-c", "trap '' HUP INT TERM; cat >/dev/null; rm -rf -- \"$1\"", "sh",
                          folder.c_str(), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, const_cast<char**>(argv), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[0]);
    if (rc != 0) Finding("no clean-up child for the scratch folder");
    // fds[1] stays open, closed on exec, until this process ends.
}

}  // namespace detail

// A private folder for the readers that take a file name, removed when the process ends,
// whatever way it ends.
class Scratch {
public:
    static Scratch& Get() {
        static Scratch s;
        return s;
    }
    // Writes the input as name in the folder and returns its path.
    std::string Put(const std::string& name, const uint8_t* data, size_t size) {
        const std::string path = folder_ + "/" + name;
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), std::streamsize(size));
        return path;
    }
    const std::string& Folder() const { return folder_; }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }

private:
    Scratch() {
        std::string templ = (std::filesystem::temp_directory_path() / "jx_fuzz_XXXXXX").string();
        if (!mkdtemp(templ.data())) Finding("no scratch folder");
        folder_ = templ;
        detail::RemoveWhenProcessEnds(folder_);
    }
    std::string folder_;
};

// The extension a picture file of these bytes would carry, from its signature; TGA has none.
inline const char* ExtensionOf(const uint8_t* d, size_t n) {
    auto starts = [&](const char* sig, size_t len) { return n >= len && std::memcmp(d, sig, len) == 0; };
    if (starts("\x89PNG", 4)) return ".png";
    if (starts("GIF8", 4)) return ".gif";
    if (starts("BM", 2)) return ".bmp";
    if (starts("8BPS", 4)) return ".psd";
    if (starts("\xFF\xD8", 2)) return ".jpg";
    if (starts("P6", 2)) return ".ppm";
    if (starts("\0\0\1\0", 4)) return ".ico";
    if (starts("\0\0\2\0", 4)) return ".cur";
    return ".tga";
}

}  // namespace fuzz

template <typename Graphic>
void FuzzLoad(const uint8_t* data, size_t size, bool save_again = false) {
    Graphic graphic;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    try {
        graphic.CheckStreamHeader(in);
        graphic.LoadFromStream(in);
    } catch (const jx::FileIoError&) {
        return;
    }
    for (int y = 0; y < graphic.Height(); ++y)
        for (int x = 0; x < graphic.Width(); ++x) (void)graphic.Pixel(x, y);
    if constexpr (requires(Graphic g, std::ostream& o) { g.SaveToStream(o); }) {
        if (!save_again) return;
        std::ostringstream out;
        try {
            graphic.SaveToStream(out);
        } catch (const jx::FileIoError&) {
            return;
        }
        Graphic back;
        std::istringstream again(out.str());
        back.LoadFromStream(again);  // our own output must always load
    }
}
