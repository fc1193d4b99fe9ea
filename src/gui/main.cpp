#include "gui/app.h"

int main(int argc, char** argv) { return jx::RunJx(argc, argv); }
