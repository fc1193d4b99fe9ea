#pragma once
#include <functional>
#include <string>

namespace jx {

// The options the Options dialog edits and "options.ini" keeps between runs. Dialogs bind to
// one instance of this; nothing reads a hidden widget.
struct JxOptions {
    // [Capture]
    bool prtSc = false;
    bool captureCursor = false;
    bool disableClearType = false;
    std::string hotKey1;  // full screen; empty = none
    std::string hotKey2;  // active window
    std::string hotKey3;  // active window with alpha
    // [PNG]
    int optimization = 1;  // 0 "Fast", 1 "Normal", 2 "Slow", 3 "Very slow", 4 "External script"
    std::string iter = "15";
    std::string own;
    bool showConsole = false;
    bool forcedRgb = false;  // "Forced RGB": set by the save dialog and the batch window, not kept in the file

    bool operator==(const JxOptions&) const = default;
};

inline constexpr const char* kSettingsFileName = "options.ini";

// $XDG_CONFIG_HOME/Mirelda/ (or ~/.config/Mirelda/), made when missing; ends in '/'.
// Throws PlatformError when it cannot be made.
std::string SettingsFolder();

// The text of a settings file for these options and this version ("Main", "Capture", "PNG").
std::string FormatOptions(const JxOptions& options, const std::string& version);

// Reads options from the text of a settings file. Keys that are missing or damaged keep their
// defaults; *version receives "Main" "JXVer" (empty when absent). hotKeyFilter maps a hot-key
// text to the text kept (empty for a text that names no key).
JxOptions ParseOptions(const std::string& text, std::string* version,
                       const std::function<std::string(const std::string&)>& hotKeyFilter = {});

// Writes the settings file through a temporary name in its folder. Throws PlatformError.
void SaveOptions(const std::string& file, const JxOptions& options, const std::string& version);

// Reads the settings file. A missing file gives the defaults and writes nothing; a file that
// cannot be read or is damaged gives what could be read. When its "JXVer" differs from
// runningVersion the file is rewritten at once, so keys this version does not know go away.
// A failed rewrite is reported through *warning (when given) and otherwise ignored.
JxOptions LoadOptions(const std::string& file, const std::string& runningVersion,
                      const std::function<std::string(const std::string&)>& hotKeyFilter = {},
                      std::string* warning = nullptr);

}  // namespace jx
