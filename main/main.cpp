#include "main/standard_descriptors.h"
#include "main/startup.h"

int main(int argc, char** argv) {
  openStandardDescriptors();
  return runHelper(argc, argv);
}
