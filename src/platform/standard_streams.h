#pragma once

namespace jx {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no file a program
// opens later (an image, a temporary) gets one of them and receives what is meant for the console.
// Called first thing in main.
void OpenClosedStandardStreams();

}  // namespace jx
