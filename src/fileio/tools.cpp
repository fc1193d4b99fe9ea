#include "fileio/tools.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <system_error>

#include "fileio/errors.h"
#include "platform/ascii.h"

namespace fs = std::filesystem;

namespace jx {
namespace {

bool IsExecutableFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0;
}

}  // namespace

fs::path ExecutableDir() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : exe.parent_path();
}

fs::path FindQuillox(const fs::path& exeDir) {
    for (const fs::path& dir : {exeDir, exeDir / "bin", exeDir.parent_path() / "bin"}) {
        if (IsExecutableFile(dir / "quillox")) return dir / "quillox";
    }
    return {};
}

fs::path FindOnPath(const std::string& name, bool ignoreCase) {
    const char* env = std::getenv("PATH");
    std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
    std::string wanted = AsciiLower(name);
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        fs::path dir = path.substr(start, end - start);
        if (dir.empty()) dir = ".";
        start = end + 1;
        if (!ignoreCase) {
            if (IsExecutableFile(dir / name)) return dir / name;
            continue;
        }
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), last; !ec && it != last; it.increment(ec)) {
            if (AsciiLower(it->path().filename().string()) == wanted && IsExecutableFile(it->path())) return it->path();
        }
    }
    return {};
}

std::vector<ToolSource> LocateTools(const fs::path& exeDir) {
    std::vector<ToolSource> tools{{"quillox", FindQuillox(exeDir)}};
    for (const char* name : {"cjpeg", "cwebp", "dwebp", "advdef"}) tools.push_back({name, FindOnPath(name)});
    tools.push_back({"deflopt", FindOnPath("deflopt", true)});
    return tools;
}

std::vector<fs::path> InstallTools(const std::vector<ToolSource>& tools, const fs::path& sessionFolder) {
    std::vector<fs::path> made;
    for (const auto& t : tools) {
        if (t.from.empty()) continue;
        fs::path to = sessionFolder / t.name;
        std::error_code ec;
        fs::remove(to, ec);
        fs::create_symlink(fs::absolute(t.from), to, ec);
        if (ec) {
            ec.clear();
            fs::copy_file(t.from, to, fs::copy_options::overwrite_existing, ec);
            if (ec) throw FileIoError("Cannot place " + t.name + " in " + sessionFolder.string() + ": " + ec.message());
        }
        made.push_back(to);
    }
    return made;
}

}  // namespace jx
