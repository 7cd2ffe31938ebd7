// User date and time formats: compiling any format, reading any text with
// it, and writing any date and time that reads back as the same text.
#include <vector>

#include "foundation/text/char_classes.h"
#include "foundation/text/collation.h"
#include "foundation/types/date_format.h"
#include "foundation/types/date_time.h"
#include "fuzz_support.h"

using namespace brn;
using namespace brn::fuzz;

namespace {

// One item of a compiled template: a component (its text) or a literal.
struct Item {
  std::string component;  // empty: a literal
  char literal = 0;
};

std::vector<Item> Items(const std::string& templateText, std::vector<std::string> components) {
  std::vector<Item> items;
  size_t next = 0;
  for (size_t t = 0; t < templateText.size(); ++t) {
    if (next < components.size() && !components[next].empty() && templateText[t] == '%' &&
        t + 1 < templateText.size() && templateText[t + 1] == components[next].front()) {
      items.push_back({components[next++], 0});
      ++t;
    } else {
      items.push_back({"", templateText[t]});
    }
  }
  return items;
}

bool IsDigitComponent(const Item& item) {
  return !item.component.empty() && item.component.front() != 'N';
}

bool IsAmPmWord(std::string_view word) {
  for (char c : word)
    if (!AmPmFormatChars.Contains(static_cast<unsigned char>(c))) return false;
  return true;
}

// Formats whose own output is ambiguous to read, and which the reader is
// not asked to read back: a digit run with no end (an unpadded component
// directly before another digit component, or in a format without
// separators; an empty 12-hour word between two digit components), digits as
// separators, and 12-hour words that cannot be told apart or read as a run of
// a, m and p.
bool ReadsBackItsOwnText(const std::vector<Item>& items, bool hasSeparators, std::string_view am,
                         std::string_view pm) {
  bool emptyWord = am.empty() || pm.empty();
  for (size_t i = 0; i < items.size(); ++i) {
    const Item& item = items[i];
    const Item* next = i + 1 < items.size() ? &items[i + 1] : nullptr;
    if (item.component.empty()) {
      if (DigitChars.Contains(static_cast<unsigned char>(item.literal))) return false;
      continue;
    }
    bool unpadded = item.component.size() == 1 && item.component.front() != 'N';
    if (unpadded && (!hasSeparators || (next && IsDigitComponent(*next)))) return false;
    // An empty word may vanish from the text and join the runs around it.
    if (IsDigitComponent(item) && emptyWord) {
      for (size_t j = i + 1; j < items.size() && !items[j].component.empty(); ++j) {
        if (IsDigitComponent(items[j])) {
          if (j > i + 1) return false;
          break;
        }
      }
    }
    if (item.component.front() == 'N') {
      if (!IsAmPmWord(am) || !IsAmPmWord(pm) || TextEqualsIgnoreCase(am, pm)) return false;
      if (next && next->component.empty() &&
          AmPmFormatChars.Contains(static_cast<unsigned char>(next->literal)))
        return false;
      if (next && !next->component.empty() && next->component.front() == 'N') return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  int32_t day = int32_t(in.Word32() % uint32_t(MaxDayNumber)) + 1;
  int32_t time = int32_t(in.Word32() % uint32_t(MSecsPerDay));
  char decimalChar = char(in.Byte());
  std::string dateText = in.Line();
  std::string timeText = in.Line();
  std::string am = in.Line();
  std::string pm = in.Line();
  std::string text(in.Rest());

  double x = 0;
  int64_t d = 0;
  bool b = false;
  (void)ParseFloatWithSeparator(text, decimalChar, x);
  if (!ParseDecimalWithSeparator(text, decimalChar, d) && d != 0) Fail("decimal not 0");
  (void)ParseBooleanByWords(text, am, pm, b);

  TBRNDateFormat dateFormat;
  TBRNTimeFormat timeFormat;
  bool dateOk = true;
  bool timeOk = true;
  try {
    ParseDateFormat(dateText, dateFormat);
  } catch (const EBRNException& e) {
    if (e.ErrorCode != 1400) Fail("date format error not 1400");
    dateOk = false;
  }
  try {
    ParseTimeFormat(timeText, am, pm, timeFormat);
  } catch (const EBRNException& e) {
    if (e.ErrorCode != 1400) Fail("time format error not 1400");
    timeOk = false;
  }

  if (dateOk) {
    int32_t read = -1;
    bool ok = ParseDateByFormat(text, dateFormat, read);
    if (ok ? (read < 1 || read > MaxDayNumber) : read != 0) Fail("date read out of range", text);
    std::vector<Item> items = Items(
        dateFormat.Template, {dateFormat.Component1, dateFormat.Component2, dateFormat.Component3});
    if (ReadsBackItsOwnText(items, dateFormat.HasSeparators, "", "")) {
      std::string written = FormatDateByFormat(day, dateFormat);
      int32_t back = 0;
      if (!ParseDateByFormat(written, dateFormat, back)) Fail("date text not read back", written);
      if (FormatDateByFormat(back, dateFormat) != written) Fail("date read back wrong", written);
    }
  }
  if (timeOk) {
    int32_t read = -1;
    bool ok = ParseTimeByFormat(text, timeFormat, read);
    if (ok ? (read < 0 || read >= MSecsPerDay) : read != 0) Fail("time read out of range", text);
    std::vector<Item> items = Items(
        timeFormat.Template, {timeFormat.Component1, timeFormat.Component2, timeFormat.Component3,
                              timeFormat.Component4, timeFormat.Component5});
    if (ReadsBackItsOwnText(items, timeFormat.HasSeparators, am, pm)) {
      std::string written = FormatTimeByFormat(time, timeFormat);
      int32_t back = 0;
      if (!ParseTimeByFormat(written, timeFormat, back)) Fail("time text not read back", written);
      if (FormatTimeByFormat(back, timeFormat) != written) Fail("time read back wrong", written);
    }
  }
  if (dateOk && timeOk) {
    int64_t ts = -1;
    bool ok = ParseTimestampByFormat(text, dateFormat, timeFormat, ts);
    if (!ok && ts != 0) Fail("timestamp not 0");
    (void)FormatTimestampByFormat(dateFormat, timeFormat, DateToTimestamp(day) + time);
  }
  return 0;
}
