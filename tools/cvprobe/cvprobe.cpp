// cvprobe: says which Windows bitness it was built for. The test command runs the
// 32-bit build's copy under Wine to learn whether this machine runs 32-bit code.
#include <cstdio>

int main() {
  std::printf("cvprobe: %u-bit\n", static_cast<unsigned>(sizeof(void*) * 8));
  return 0;
}
