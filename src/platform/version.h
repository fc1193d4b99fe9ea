#pragma once

namespace jx {

// The running program's version, from the build's project version.
const char* VersionText();

}  // namespace jx
