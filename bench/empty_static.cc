// The later-run benchmark's floor: a static C++ program, linked as the
// launcher stub is, that does nothing. Starting any such program costs this
// much more than starting the runtime stand-in, which has no C library.
int main() { return 0; }
