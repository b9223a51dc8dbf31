// Runs a fuzz target once on each file named on the command line (a folder stands for
// the files in it), so the sanitizer builds replay the seed corpora as ordinary tests
// without libFuzzer. Fuzzing itself is scripts/fuzz.sh.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Returns the number of inputs run.
int Replay(const std::filesystem::path& path) {
  if (!std::filesystem::is_directory(path)) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
  }
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(path)) count += Replay(entry.path());
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    if (!std::filesystem::exists(argv[i])) {
      std::fprintf(stderr, "replay: no such file or folder: %s\n", argv[i]);
      return 2;
    }
    count += Replay(argv[i]);
  }
  std::printf("replay: %d inputs\n", count);
  return count > 0 ? 0 : 1;
}
