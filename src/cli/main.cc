#include <cstdio>

int main() {
  std::puts("brimvale-cli: not ready");
  return 0;
}
