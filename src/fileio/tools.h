#pragma once
// Where the outside tools come from, and their copies in the session folder under the names the
// command builders use (S + "quillox", S + "cjpeg", ...).
#include <filesystem>
#include <string>
#include <vector>

namespace jx {

// The folder of the running executable.
std::filesystem::path ExecutableDir();

// quillox beside the given executable folder, or in "bin" below or beside it (a build tree);
// empty when none is found.
std::filesystem::path FindQuillox(const std::filesystem::path& exeDir);

// The first executable of that name in $PATH (the letter case ignored when asked); empty when none.
std::filesystem::path FindOnPath(const std::string& name, bool ignoreCase = false);

struct ToolSource {
    std::string name;            // the name in the session folder
    std::filesystem::path from;  // empty: not available
};

// quillox, cjpeg, cwebp, dwebp, advdef and deflopt (any letter case), where they are found.
std::vector<ToolSource> LocateTools(const std::filesystem::path& exeDir);

// Links (or, where a link cannot be made, copies) each available tool into the session folder and
// returns the paths made. Tools that are not available are left out.
std::vector<std::filesystem::path> InstallTools(const std::vector<ToolSource>& tools,
                                                const std::filesystem::path& sessionFolder);

}  // namespace jx
