// The font configuration library keeps caches for the life of the process,
// which the leak checker would report at exit.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
