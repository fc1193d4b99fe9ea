#pragma once
#include <filesystem>
#include <string>

namespace jx {

// A stem for exchange files with the outside tools: folder + 8 upper-case hexadecimal digits taken
// from the millisecond tick count, bumped until the name is free. The stem itself is held as an empty
// file for the object's life, so stem + ".png", stem + ".webp" and so on never collide with another
// user's, even within one millisecond.
class TempStem {
public:
    explicit TempStem(const std::filesystem::path& folder);
    TempStem(const TempStem&) = delete;
    TempStem& operator=(const TempStem&) = delete;
    ~TempStem();

    const std::string& Stem() const { return stem_; }
    std::string With(const std::string& extension) const { return stem_ + extension; }

private:
    std::string stem_;
};

// The folder of one call's exchange files: the session folder when one is given, else a private
// folder (mode 0700, made with mkdtemp in the temporary-files folder) that is removed with everything
// in it when this object goes. Either way no other user can plant a name in it.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& sessionFolder);
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();

    const std::string& Path() const { return path_; }  // no trailing '/'

private:
    std::string path_;
    bool owned_ = false;
};

}  // namespace jx
