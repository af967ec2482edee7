// Writes the seed corpus of every fuzz target into <folder>/<target>/<seed name>.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "SeedCorpus.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  namespace fs = std::filesystem;
  for (const std::string& target : kv5::fuzz::FuzzTargetNames()) {
    const fs::path folder = fs::path(argv[1]) / target;
    fs::create_directories(folder);
    for (const kv5::fuzz::SeedInput& seed : kv5::fuzz::SeedCorpus(target)) {
      std::ofstream out(folder / seed.name, std::ios::binary);
      out.write(reinterpret_cast<const char*>(seed.bytes.data()),
                static_cast<std::streamsize>(seed.bytes.size()));
      if (!out) {
        std::fprintf(stderr, "cannot write %s\n", (folder / seed.name).string().c_str());
        return 1;
      }
    }
  }
  return 0;
}
