#include "driver/run.h"

int main(int argc, char** argv) {
  return korrin::Run(argc, argv);
}
