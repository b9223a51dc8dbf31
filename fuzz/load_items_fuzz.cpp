// LoadItems on any text: the first byte gives the delimiter's length (0 to 3), the
// delimiter follows, the rest is the file. The lines the splitter finds must lie in the
// text as key, delimiter, item with no line end inside; and the dictionary LoadItems
// fills must hold exactly the keys of those lines, each with its last line's item, in
// the order of first appearance.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/com/object.h"
#include "platform/kernel/code_page.h"
#include "platform/kernel/last_error.h"
#include "vellumset/dictionary.h"
#include "vellumset/item_lines.h"

namespace {

// The file LoadItems reads: in memory (a file on disk rewritten for every input would
// wait for the disk), named through /proc.
int ItemsFile() {
  static const int fd = memfd_create("load_items_fuzz", 0);
  if (fd < 0) std::abort();
  return fd;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckLines(std::string_view text, std::string_view delimiter,
                const std::vector<vellumset::ItemLine>& lines) {
  const char* previous = text.data();
  for (const vellumset::ItemLine& line : lines) {
    Check(line.key.data() >= previous);
    Check(line.item.data() == line.key.data() + line.key.size() + delimiter.size());
    Check(line.item.data() + line.item.size() <= text.data() + text.size());
    const std::string_view whole(line.key.data(),
                                 line.key.size() + delimiter.size() + line.item.size());
    Check(whole.substr(line.key.size(), delimiter.size()) == delimiter);
    Check(whole.find(delimiter) == line.key.size());  // the first occurrence
    Check(whole.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos);
    previous = line.item.data() + line.item.size();
  }
}

// What LoadItems must have made of the lines, for text that converts whole.
void CheckDictionary(vellumset::IDictionary* dictionary,
                     const std::vector<vellumset::ItemLine>& lines) {
  std::vector<std::u16string> keys;
  std::vector<std::u16string> items;
  for (const vellumset::ItemLine& line : lines) {
    const std::u16string key = *Utf8ToUtf16(line.key);
    const std::u16string item = *Utf8ToUtf16(line.item);
    size_t at = 0;
    while (at < keys.size() && keys[at] != key) ++at;
    if (at == keys.size()) {
      keys.push_back(key);
      items.push_back(item);
    } else {
      items[at] = item;
    }
  }
  LONG count = -1;
  dictionary->get_Count(&count);
  Check(count == static_cast<LONG>(keys.size()));
  for (size_t i = 0; i < keys.size(); ++i) {
    Variant item;
    dictionary->get_Item(Variant::Long(static_cast<LONG>(i)), &item);
    Check(item.vt == VT_BSTR && BstrView(item.bstrVal) == items[i]);
    Variant byKey;
    dictionary->get_Item(Variant::String(keys[i]), &byKey);
    Check(byKey.vt == VT_BSTR && BstrView(byKey.bstrVal) == items[i]);
  }
}

bool LinesConvert(const std::vector<vellumset::ItemLine>& lines) {
  for (const vellumset::ItemLine& line : lines) {
    if (!Utf8ToUtf16(line.key) || !Utf8ToUtf16(line.item)) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t delimiterLength = std::min<size_t>(data[0] % 4, size - 1);
  const std::string delimiter(reinterpret_cast<const char*>(data + 1), delimiterLength);
  const std::string_view file(reinterpret_cast<const char*>(data + 1 + delimiterLength),
                              size - 1 - delimiterLength);
  const std::string_view text = file.substr(0, file.find('\0'));
  const std::vector<vellumset::ItemLine> lines = vellumset::SplitItemLines(file, delimiter);
  CheckLines(text, delimiter, lines);

  const std::optional<std::u16string> wideDelimiter = Utf8ToUtf16(delimiter);
  if (!wideDelimiter) return 0;
  if (ftruncate(ItemsFile(), 0) != 0 ||
      pwrite(ItemsFile(), file.data(), file.size(), 0) != static_cast<ssize_t>(file.size())) {
    std::abort();
  }
  ComPtr<vellumset::IDictionary> dictionary;
  CreateComObject<vellumset::Dictionary>(nullptr, vellumset::IID_IDictionary,
                                         dictionary.ReceiveVoid());
  const std::string name = "/proc/self/fd/" + std::to_string(ItemsFile());
  const std::u16string path(name.begin(), name.end());
  const HRESULT hr = dictionary->LoadItems(Variant::String(path), Variant::String(*wideDelimiter));
  if (LinesConvert(lines)) {
    Check(hr == S_OK);
    CheckDictionary(dictionary.Get(), lines);
  } else {
    Check(hr == HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
  }
  return 0;
}
