// Writes the seed corpus of the loader's fuzzer into the folder given as the only argument.
#include <cstdio>
#include <fstream>

#include "support/test_classes.h"
#include "fuzz/sample_scenes.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_corpus FOLDER\n");
    return 2;
  }
  KX::test::RegisterForTests();
  int written = 0;
  for (const auto& [name, bytes] : KX::fuzz::SampleScenes()) {
    if (bytes.empty()) continue;
    std::ofstream out(std::string(argv[1]) + "/seed_" + name + ".crv", std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ++written;
  }
  std::printf("make_fuzz_corpus: %d seed files\n", written);
  return written > 0 ? 0 : 1;
}
