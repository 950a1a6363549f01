// Runs a fuzz target's entry point over saved inputs, without libFuzzer: the
// seeds and the inputs of earlier findings, as an ordinary test of every
// build. Each argument is an input file or a directory tree of them (read in
// name order; names that begin with a dot are left out). A failed check aborts, as under the fuzzer; an argument that cannot
// be read, or no input at all, fails the run too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool RunInput(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    return false;
  }
  // Exactly as many bytes as the input has, so that a sanitizer sees any read
  // past its end.
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(input.data(), input.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path argument(argv[i]);
    std::error_code error;
    if (std::filesystem::is_directory(argument, error)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(argument)) {
        if (entry.is_regular_file() && entry.path().filename().string().front() != '.') {
          inputs.push_back(entry.path());
        }
      }
    } else {
      inputs.push_back(argument);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs\n");
    return 1;
  }
  for (const auto& path : inputs) {
    if (!RunInput(path)) return 1;
  }
  std::printf("%zu inputs passed\n", inputs.size());
  return 0;
}
