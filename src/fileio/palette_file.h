#pragma once
// Palette files: ".pal" (JASC text palette) and ".act" (256 R, G, B triplets).
#include <cstdint>
#include <string>
#include <vector>

#include "fileio/errors.h"
#include "imaging/engine_state.h"

namespace jx {

// The only message of the palette writer; shown as a plain message box.
inline const char* const kPaletteTooLarge = "Palette too large!";

class PaletteTooLargeError : public FileIoError {
public:
    PaletteTooLargeError() : FileIoError(kPaletteTooLarge) {}
};

struct TPaletteColor {
    uint8_t R = 0, G = 0, B = 0, A = 255;
    bool operator==(const TPaletteColor&) const = default;
};

// The colours of a palette file, chosen by its extension (".pal" or ".act", as written). A file
// that is damaged, empty, of another format or of another extension raises FileIoError saying why.
std::vector<TPaletteColor> ReadPaletteFile(const std::string& fileName);

// Replaces the palette by the file's colours: every entry of Palette cleared, the file's colours
// converted into Palette[0..N-1], PaletteOrder the identity, sorted by colour (type 1), duplicates
// removed. Nothing changes when the file cannot be read (FileIoError). Does nothing while Palette
// has never been allocated. The caller then selects "Custom", shows PaletteSize in the colour-count
// boxes and remaps unless BatchQuantize is set.
void LoadPalette(EngineState& state, const std::string& fileName);

// Marks later entries equal in R, G, B and A to an earlier one, shrinks PaletteSize by their number
// and moves them behind the kept ones (sort by weight); every entry's weight ends at 0 or 1.
// Returns whether any was removed.
bool RemovePaletteDuplicates(EngineState& state);

// The file a palette save writes and its format (1 ".pal", 2 ".act"): a ".pal" or ".act" typed, in
// any case, decides the format; otherwise filterIndex does, and its extension is appended only to a
// name that has none.
struct TPaletteTarget {
    std::string Name;
    int32_t Format = 1;
};
TPaletteTarget PaletteSaveTarget(const std::string& fileName, int32_t filterIndex);

// Writes Palette[0..PaletteSize-1] to PaletteSaveTarget(fileName, filterIndex). ".act" past 256
// entries raises PaletteTooLargeError; a true-colour state (no palette) raises FileIoError. The
// file is replaced only when written whole. Returns the name.
std::string SavePalette(const EngineState& state, const std::string& fileName, int32_t filterIndex);

// Makes the "Custom" palette type load this file.
void SetCustomPaletteFile(EngineState& state, const std::string& fileName);

}  // namespace jx
