#include "gui/app.h"
#include "platform/standard_streams.h"

int main(int argc, char** argv) {
    jx::OpenClosedStandardStreams();
    return jx::RunJx(argc, argv);
}
