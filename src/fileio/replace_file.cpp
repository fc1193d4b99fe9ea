#include "fileio/replace_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "fileio/errors.h"
#include "platform/temp_name.h"

namespace jx {

void ReplaceFileWith(const std::string& destination, const std::function<void(const std::string&)>& write) {
    namespace fs = std::filesystem;
    const fs::path dest(destination);
    fs::path folder = dest.parent_path();
    if (folder.empty()) folder = ".";
    fs::path temp;
    try {
        temp = CreateUniqueFile(folder, "." + dest.filename().string() + ".", 0666);
    } catch (const std::exception& e) {
        throw FileIoError("Cannot write \"" + destination + "\": " + e.what());
    }
    try {
        write(temp.string());
    } catch (...) {
        std::error_code ec;
        fs::remove(temp, ec);
        throw;
    }
    std::error_code ec;
    fs::rename(temp, dest, ec);
    if (ec) {
        fs::remove(temp, ec);
        throw FileIoError("Cannot write \"" + destination + "\": " + ec.message());
    }
}

void ReplaceFileWithStream(const std::string& destination, const std::function<void(std::ostream&)>& write) {
    ReplaceFileWith(destination, [&](const std::string& temp) {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) throw FileIoError("Cannot create file \"" + temp + "\".");
        write(out);
        out.flush();
        if (!out) throw FileIoError("Cannot write \"" + destination + "\": the disk refused the data.");
    });
}

void ReplaceFileWithBytes(const std::string& destination, std::span<const uint8_t> bytes) {
    ReplaceFileWithStream(destination, [&](std::ostream& out) {
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    });
}

}  // namespace jx
