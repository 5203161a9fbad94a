#include "main/standard_descriptors.h"
#include "main/startup.h"

int main(int argc, char** argv) {
  openStandardDescriptors();
  outliveClosedOutput();
  return runHelper(argc, argv);
}
