// Program entry. Until the main window lands this only reports the version.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("Vemra %s\n", VEMRA_VERSION);
    return 0;
  }
  std::printf("Vemra %s: the editor window is not built yet; the engine is exercised by the test suite.\n", VEMRA_VERSION);
  return 0;
}
