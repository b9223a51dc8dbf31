// Independent tools as test oracles: files made by ImageMagick and Pillow, and
// their decoding of files we write. Each call runs the tool in a child process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

std::vector<uint8_t> ReadFileBytes(const std::string& path);
// The whole file as text; empty when it cannot be read (a log not written yet).
std::string ReadFileText(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Runs a shell command; true when it exits with status 0. Its output is discarded
// unless `output` is given, which receives standard output.
bool RunCommand(const std::string& command, std::string* output = nullptr);

// Quotes a text for the shell.
std::string ShellQuote(const std::string& text);

struct RawImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // 3 bytes per pixel, rows top to bottom
};

// The pixels Pillow sees in a file (first frame, converted to RGB), or nothing
// when Pillow cannot read it.
std::optional<RawImage> DecodeWithPillow(const std::string& path);

// The pixels ImageMagick sees in a file (first frame, 8 bits per channel, RGB).
std::optional<RawImage> DecodeWithImageMagick(const std::string& path);

// Runs a Python program under the system interpreter, which has Pillow; the
// program gets `args` as sys.argv[1:]. True when it exits with status 0.
bool RunPython(const std::string& program, const std::vector<std::string>& args,
               std::string* output = nullptr);

}  // namespace testing_support
