// Takes the place of a release's erts-<v>/bin/erl in the first-run benchmark's
// corpus: it ends at once with status 0, so a run of the packed corpus times
// the launcher and its install alone. No C library (x86-64 Linux only): the
// program is a few hundred bytes, needs no loader and sets nothing up.
extern "C" [[noreturn]] void _start() {
  asm volatile("syscall" : : "a"(231), "D"(0));  // exit_group(0)
  __builtin_unreachable();
}
