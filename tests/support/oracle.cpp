#include "tests/support/oracle.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "tests/support/temp_dir.h"

namespace testing_support {

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

bool RunCommand(const std::string& command, std::string* output) {
  const std::string redirected = command + (output ? " 2>/dev/null" : " >/dev/null 2>&1");
  FILE* pipe = popen(redirected.c_str(), "r");
  if (pipe == nullptr) return false;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    if (output) output->append(buffer, n);
  }
  return pclose(pipe) == 0;
}

bool RunPython(const std::string& program, const std::vector<std::string>& args,
               std::string* output) {
  TempDir dir;
  const std::string script = dir.File("program.py");
  WriteFileBytes(script, std::vector<uint8_t>(program.begin(), program.end()));
  std::string command = "/usr/bin/python3 " + ShellQuote(script);
  for (const std::string& arg : args) command += " " + ShellQuote(arg);
  return RunCommand(command, output);
}

namespace {

// Reads "WIDTH HEIGHT" printed by a tool and the raw RGB file it wrote.
std::optional<RawImage> CollectRaw(const std::string& sizeText, const std::string& rawPath) {
  RawImage image;
  std::istringstream size(sizeText);
  if (!(size >> image.width >> image.height)) return std::nullopt;
  image.rgb = ReadFileBytes(rawPath);
  if (image.rgb.size() != static_cast<size_t>(image.width) * image.height * 3) return std::nullopt;
  return image;
}

}  // namespace

std::optional<RawImage> DecodeWithPillow(const std::string& path) {
  TempDir dir;
  const std::string raw = dir.File("pixels.rgb");
  static const char* kProgram = R"(
import sys
from PIL import Image
image = Image.open(sys.argv[1])
try:
    image.seek(0)
except EOFError:  # a layered image opens on its composite and has no frame 0
    pass
rgb = image.convert('RGB')
open(sys.argv[2], 'wb').write(rgb.tobytes())
print(rgb.size[0], rgb.size[1])
)";
  std::string size;
  if (!RunPython(kProgram, {path, raw}, &size)) return std::nullopt;
  return CollectRaw(size, raw);
}

std::optional<RawImage> DecodeWithImageMagick(const std::string& path) {
  TempDir dir;
  const std::string raw = dir.File("pixels.rgb");
  std::string size;
  const std::string first = ShellQuote(path + "[0]");
  if (!RunCommand("/usr/bin/convert " + first + " -depth 8 rgb:" + ShellQuote(raw), nullptr) ||
      !RunCommand("/usr/bin/identify -format '%w %h' " + first, &size)) {
    return std::nullopt;
  }
  return CollectRaw(size, raw);
}

}  // namespace testing_support
