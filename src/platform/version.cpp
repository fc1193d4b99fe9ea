#include "platform/version.h"

#include "jx_version.h"

namespace jx {

const char* VersionText() { return JX_VERSION_TEXT; }

}  // namespace jx
