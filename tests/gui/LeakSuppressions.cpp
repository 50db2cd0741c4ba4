// The leak checker's list of leaks that are not ours: the system's font configuration keeps
// its caches for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
