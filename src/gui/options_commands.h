#pragma once
#include <string>

namespace jx {

class TJXMainForm;
class TAboutForm;
class TOptionsForm;

// The Options and About buttons and their dialogs, made with the window as its children.
class TOptionsCommands {
public:
    // settingsFile: the window's options file (empty = none), which outlives this.
    TOptionsCommands(TJXMainForm& form, const std::string& settingsFile);

    void OptionsClick();  // shown modally, the settings file written when it returns
    void AboutClick();
    TOptionsForm* OptionsForm() const { return optionsForm_; }

private:
    TJXMainForm& form_;
    const std::string& settingsFile_;
    TOptionsForm* optionsForm_ = nullptr;
    TAboutForm* aboutForm_ = nullptr;
};

}  // namespace jx
