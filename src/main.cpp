#include "startup/mod_Main.h"

int main(int argc, char** argv) {
  return korvani::startup::Main(argc, argv);
}
