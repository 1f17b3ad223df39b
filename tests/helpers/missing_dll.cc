// A program that imports a DLL no system has (tests/CMakeLists.txt makes only
// its import library), so Windows cannot start it: a stand-in for a runtime
// whose DLL is missing. Like fake_erl, it uses none of the project's code.
extern "C" int wexlo_absent();

int main() { return wexlo_absent(); }
