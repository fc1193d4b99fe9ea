#include "platform/temp_name.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "platform/errors.h"
#include "platform/session.h"

namespace jx {

TempStem::TempStem(const std::filesystem::path& folder) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count();
    auto tick = static_cast<uint32_t>(ms);
    for (int attempt = 0; attempt < 4096; ++attempt, ++tick) {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(tick));
        std::string candidate = (folder / hex).string();
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            stem_ = std::move(candidate);
            return;
        }
        if (errno != EEXIST) {
            throw PlatformError("Cannot create a temporary file in " + folder.string() + ": " + std::strerror(errno));
        }
    }
    throw PlatformError("No free temporary name in " + folder.string());
}

ScratchFolder::ScratchFolder(const std::string& sessionFolder) {
    if (!sessionFolder.empty()) {
        path_ = sessionFolder;
        while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
        return;
    }
    std::string templ = TempFolder() + "/jx-scratch-XXXXXX";
    if (!::mkdtemp(templ.data()))
        throw PlatformError("Cannot create a scratch folder in " + TempFolder() + ": " + std::strerror(errno));
    path_ = templ;
    owned_ = true;
}

ScratchFolder::~ScratchFolder() {
    if (!owned_) return;
    const int fd = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        if (DIR* dir = ::fdopendir(::dup(fd))) {
            std::vector<std::string> names;
            while (struct dirent* e = ::readdir(dir))
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
            ::closedir(dir);
            // The tools write plain files; a folder one left behind is removed when it is empty.
            for (const std::string& n : names)
                if (::unlinkat(fd, n.c_str(), 0) != 0) ::unlinkat(fd, n.c_str(), AT_REMOVEDIR);
        }
        ::close(fd);
    }
    ::rmdir(path_.c_str());
}

TempStem::~TempStem() { ::unlink(stem_.c_str()); }

}  // namespace jx
