// fontconfig keeps its caches and the xcb platform's D-Bus link keeps its buffers until the
// process ends; neither is ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\nleak:libdbus-1.so\n"; }
