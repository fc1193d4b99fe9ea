#include "platform/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "platform/ascii.h"
#include "platform/errors.h"
#include "platform/parse_int.h"
#include "platform/read_file.h"
#include "platform/replace_file.h"

namespace jx {
namespace {

// A settings file is a few hundred bytes; anything far larger is not ours.
constexpr off_t kMaxSettingsFileSize = 1 << 20;

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
}

using Sections = std::map<std::string, std::map<std::string, std::string>>;

// Section and key names compare without case, as INI files do; the first occurrence wins.
Sections ParseIni(const std::string& text) {
    Sections out;
    std::string section;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            const std::size_t close = line.find(']');
            section = close == std::string::npos ? std::string() : AsciiLower(Trim(line.substr(1, close - 1)));
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || section.empty()) continue;
        const std::string key = AsciiLower(Trim(line.substr(0, eq)));
        if (key.empty()) continue;
        out[section].emplace(key, Trim(line.substr(eq + 1)));
    }
    return out;
}

const std::string* Find(const Sections& s, const char* section, const char* key) {
    auto sec = s.find(section);
    if (sec == s.end()) return nullptr;
    auto k = sec->second.find(key);
    return k == sec->second.end() ? nullptr : &k->second;
}

void ReadBool(const Sections& s, const char* section, const char* key, bool* out) {
    int64_t v = 0;
    if (const std::string* t = Find(s, section, key); t && ParseInt(*t, v)) *out = v != 0;
}

void ReadString(const Sections& s, const char* section, const char* key, std::string* out) {
    if (const std::string* t = Find(s, section, key)) *out = *t;
}

void CheckValue(const std::string& key, const std::string& value) {
    if (value.find_first_of("\r\n") != std::string::npos || value.find('\0') != std::string::npos)
        throw PlatformError("The setting \"" + key + "\" holds a line break and cannot be saved");
}

std::string MakeFolders(const std::string& path) {
    std::string built;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t next = path.find('/', pos);
        if (next == std::string::npos) next = path.size();
        built = path.substr(0, next);
        if (!built.empty() && ::mkdir(built.c_str(), 0700) != 0 && errno != EEXIST)
            throw PlatformError("Cannot create the settings folder \"" + built + "\": " + std::strerror(errno));
        pos = next + 1;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw PlatformError("The settings folder \"" + path + "\" is not a folder");
    return path;
}

}  // namespace

std::string SettingsFolder() {
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') throw PlatformError("Cannot find the settings folder: HOME is not set");
        base = std::string(home) + "/.config";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return MakeFolders(base + "/Mirelda") + "/";
}

std::string FormatOptions(const JxOptions& o, const std::string& version) {
    const std::pair<const char*, const std::string*> strings[] = {
        {"JXVer", &version}, {"HotKey1", &o.hotKey1}, {"HotKey2", &o.hotKey2},
        {"HotKey3", &o.hotKey3}, {"Iter", &o.iter}, {"Own", &o.own}};
    for (const auto& [key, value] : strings) CheckValue(key, *value);
    auto b = [](bool v) { return v ? "1" : "0"; };
    std::string t;
    t += "[Main]\nJXVer=" + version + "\n\n";
    t += "[Capture]\n";
    t += std::string("PrtSc=") + b(o.prtSc) + "\n";
    t += std::string("CaptureCursor=") + b(o.captureCursor) + "\n";
    t += std::string("DisableClearType=") + b(o.disableClearType) + "\n";
    t += "HotKey1=" + o.hotKey1 + "\n";
    t += "HotKey2=" + o.hotKey2 + "\n";
    t += "HotKey3=" + o.hotKey3 + "\n\n";
    t += "[PNG]\n";
    t += "Optimization=" + std::to_string(o.optimization) + "\n";
    t += "Iter=" + o.iter + "\n";
    t += "Own=" + o.own + "\n";
    t += std::string("ShowConsole=") + b(o.showConsole) + "\n";
    return t;
}

JxOptions ParseOptions(const std::string& text, std::string* version,
                       const std::function<std::string(const std::string&)>& hotKeyFilter) {
    const Sections s = ParseIni(text);
    JxOptions o;
    ReadBool(s, "capture", "prtsc", &o.prtSc);
    ReadBool(s, "capture", "capturecursor", &o.captureCursor);
    ReadBool(s, "capture", "disablecleartype", &o.disableClearType);
    ReadString(s, "capture", "hotkey1", &o.hotKey1);
    ReadString(s, "capture", "hotkey2", &o.hotKey2);
    ReadString(s, "capture", "hotkey3", &o.hotKey3);
    if (hotKeyFilter) {
        o.hotKey1 = hotKeyFilter(o.hotKey1);
        o.hotKey2 = hotKeyFilter(o.hotKey2);
        o.hotKey3 = hotKeyFilter(o.hotKey3);
    }
    int64_t level = 0;
    if (const std::string* t = Find(s, "png", "optimization"); t && ParseInt(*t, level) && level >= 0 && level <= 4)
        o.optimization = static_cast<int>(level);
    ReadString(s, "png", "iter", &o.iter);
    ReadString(s, "png", "own", &o.own);
    ReadBool(s, "png", "showconsole", &o.showConsole);
    if (version) {
        const std::string* v = Find(s, "main", "jxver");
        *version = v ? *v : std::string();
    }
    return o;
}

void SaveOptions(const std::string& file, const JxOptions& options, const std::string& version) {
    const std::string text = FormatOptions(options, version);
    ReplaceFileBytes(file, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

JxOptions LoadOptions(const std::string& file, const std::string& runningVersion,
                      const std::function<std::string(const std::string&)>& hotKeyFilter,
                      std::string* warning) {
    std::vector<uint8_t> bytes;
    if (ReadWholeFile(file, kMaxSettingsFileSize, bytes) == FileReadFailure::CannotOpen) return JxOptions{};
    const std::string text(bytes.begin(), bytes.end());
    std::string version;
    JxOptions options = ParseOptions(text, &version, hotKeyFilter);
    if (version != runningVersion) {
        try {
            SaveOptions(file, options, runningVersion);
        } catch (const PlatformError& e) {
            if (warning) *warning = e.what();
        }
    }
    return options;
}

}  // namespace jx
