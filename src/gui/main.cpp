#include <cstdio>

#include "platform/version.h"

int main(int argc, char** argv) {
    std::printf("jx %s: the window program is not built yet.\n", jx::VersionText());
    return 1;
}
