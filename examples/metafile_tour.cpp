// Metafiles through the imaging core: renders a WMF or EMF file to a portable
// pixmap, or writes a portable pixmap out as an EMF and a placeable WMF.
//
//   metafile_tour render METAFILE OUTPUT.ppm
//   metafile_tour write INPUT.ppm OUTPUT_DIR      (writes OUTPUT_DIR/ours.emf and ours.wmf)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/kernel/global_memory.h"
#include "vellum/core/data_handle.h"
#include "vellum/core/metafile.h"

using namespace vellum;

namespace {

bool Render(const char* metafile, const char* output) {
  int32_t width = 0, height = 0;
  HGLOBAL rgb = ReadMetafile(metafile, &width, &height, 0, 0, 0xFFFFFF);
  if (rgb == nullptr) {
    std::fprintf(stderr, "%s: %s", metafile, CoreErrorText(CoreLastError()));
    return false;
  }
  FILE* file = std::fopen(output, "wb");
  if (file != nullptr) {
    std::fprintf(file, "P6\n%d %d\n255\n", width, height);
    std::fwrite(rgb, 1, static_cast<size_t>(width) * height * 3, file);
    std::fclose(file);
  }
  GlobalFree(rgb);
  std::printf("%s: %d x %d\n", metafile, width, height);
  return file != nullptr;
}

// Reads a binary PPM written by ImageMagick or Pillow (no comments).
bool ReadPpm(const char* path, std::vector<uint8_t>* rgb, int* width, int* height) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  int maxValue = 0;
  const bool ok = std::fscanf(file, "P6 %d %d %d", width, height, &maxValue) == 3 &&
                  maxValue == 255 && *width > 0 && *height > 0 && std::fgetc(file) != EOF;
  if (ok) {
    rgb->resize(static_cast<size_t>(*width) * *height * 3);
    const bool complete = std::fread(rgb->data(), 1, rgb->size(), file) == rgb->size();
    std::fclose(file);
    return complete;
  }
  std::fclose(file);
  return false;
}

bool Write(const char* input, const std::string& directory) {
  std::vector<uint8_t> rgb;
  int width = 0, height = 0;
  if (!ReadPpm(input, &rgb, &width, &height)) {
    std::fprintf(stderr, "%s: not a binary PPM\n", input);
    return false;
  }
  for (const char* name : {"ours.emf", "ours.wmf"}) {
    const std::string path = directory + "/" + name;
    HISDEST destination = OpenFileDestination(path.c_str());
    if (destination == nullptr) return false;
    const bool emf = std::strstr(name, ".emf") != nullptr;
    emf ? WriteEMF(destination, rgb.data(), width, height)
        : WriteWMF(destination, rgb.data(), width, height, TRUE);
    const int32_t code = CoreLastError();
    const uint32_t size = CloseDestination(destination);
    std::printf("%s: %u bytes%s%s", path.c_str(), size, code ? ", " : "\n",
                code ? CoreErrorText(code) : "");
    if (code != 0) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "render") == 0) return Render(argv[2], argv[3]) ? 0 : 1;
  if (argc == 4 && std::strcmp(argv[1], "write") == 0) return Write(argv[2], argv[3]) ? 0 : 1;
  std::fprintf(stderr, "usage: metafile_tour render METAFILE OUT.ppm | write IN.ppm OUTDIR\n");
  return 2;
}
