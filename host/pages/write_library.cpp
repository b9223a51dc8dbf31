// vellum-pages-library FILE
//
// Writes the page objects' type library (VellumPagesLib) to FILE in its serialised form,
// for the member reference (vellum-reference --page-objects FILE NOTES). Exit status 1
// when the file cannot be written, 2 for bad usage.
#include <cstdio>
#include <fstream>

#include "host/pages/page_interfaces.h"
#include "platform/automation/type_library_file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vellum-pages-library FILE\n");
    return 2;
  }
  const std::string bytes = automation::SerializeTypeLibrary(*pages::PagesLibrary());
  std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file.flush()) {
    std::fprintf(stderr, "vellum-pages-library: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
