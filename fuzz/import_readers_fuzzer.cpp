// The delimited and tagged readers of import files over hostile bytes: the
// first input byte picks the options, the rest is the file. Every value a
// reader hands on belongs to a known column, stays within that column's
// cap and carries a position inside the file; every failure is the import
// error.
#include <string>
#include <string_view>

#include "execution/import_export/import_readers.h"
#include "execution/import_export/import_text.h"
#include "foundation/text/collation.h"
#include "fuzz_support.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

constexpr int32_t kImportError = 904;

// Three columns with small caps, so that hostile values reach them.
class Target : public TBRNImportTarget {
 public:
  explicit Target(int64_t characters) : characters_(characters) {}

  int32_t FindColumn(std::string_view name) override {
    static constexpr std::string_view kNames[] = {"ID", "Name", "Note"};
    for (int32_t i = 0; i < 3; ++i)
      if (TextEqualsIgnoreCase(name, kNames[i])) return i;
    return -1;
  }
  int64_t ValueLimit(int32_t column) override {
    if (column < 0 || column > 2) Fail("a limit asked for an unknown column");
    return column == 0 ? 4 : column == 1 ? 16 : 64;
  }
  void BeginRow() override { ++rows_; }
  void StoreValue(int32_t column, std::string_view text, int64_t line, int64_t position) override {
    if (column < 0 || column > 2) Fail("a value for an unknown column");
    if (text.empty()) Fail("an empty value was stored");
    if (int64_t(text.size()) > ValueLimit(column)) Fail("a value beyond its cap", text);
    if (line < 1 || position < 1 || position > characters_ + 1) Fail("a value outside the file");
  }
  bool PostRow(int64_t line) override {
    if (line < 1) Fail("a row before the first line");
    return ++posted_ < 1000;
  }
  bool Progress() override { return true; }
  [[noreturn]] void Fail(const std::string& reason, int64_t line, int64_t position) override {
    if (line < 1 || position < 0) ::brn::fuzz::Fail("an error outside the file", reason);
    throw EBRNException(kImportError, reason);
  }
  void Fail(const char* what, std::string_view detail = {}) { ::brn::fuzz::Fail(what, detail); }

 private:
  int64_t characters_;
  int64_t rows_ = 0;
  int32_t posted_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input(data, size);
  const uint8_t options = input.Byte();
  TBRNMemoryStream stream;
  FillStream(stream, input.Rest());
  TBRNImportLayout layout;
  layout.Delimiter = (options & 1) != 0 ? ';' : ',';
  layout.QuoteChar = (options & 2) != 0 ? '\0' : '"';
  layout.Headers = (options & 4) != 0;
  layout.Columns = {0, 1, 2};
  const bool tagged = (options & 8) != 0;
  const int32_t encoding = int32_t((options >> 4) % 3) - 1;
  Target target(int64_t(input.Rest().size()));
  try {
    TBRNImportText text(stream, encoding);
    if (tagged)
      ReadTaggedText(text, target, layout);
    else
      ReadDelimitedText(text, target, layout);
  } catch (const EBRNException& error) {
    if (error.ErrorCode != kImportError) Fail("not the import error", error.ErrorMessage);
  }
  return 0;
}
