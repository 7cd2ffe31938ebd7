#include "foundation/types/date_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <span>
#include <vector>

#include "foundation/text/char_classes.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/types/date_time.h"

namespace brn {

namespace {

constexpr char marker = '%';

// What compiling a format yields before its checks.
struct CompiledFormat {
  std::vector<std::string> components;
  std::string templateText;
  bool hasSeparators = false;
};

// Splits a format into runs of one repeated component letter (a change of
// letter, compared with case, starts the next run) and separators. Each
// component becomes "%" and its upper-case letter in the template.
CompiledFormat CompileFormat(std::string_view format, const TBRNCharSet& letters, size_t limit,
                             const char* tooMany) {
  CompiledFormat compiled;
  std::string current;
  auto close = [&]() {
    if (current.empty()) return;
    if (compiled.components.size() >= limit) RaiseFormatStringError(format, tooMany);
    compiled.components.push_back(UpperCaseText(current));
    compiled.templateText += marker;
    compiled.templateText += compiled.components.back().front();
    current.clear();
  };
  for (char c : format) {
    if (letters.Contains(static_cast<unsigned char>(c))) {
      if (!current.empty() && c != current.back()) close();
      current += c;
    } else {
      close();
      compiled.templateText += c;
      compiled.hasSeparators = true;
    }
  }
  close();
  return compiled;
}

bool LengthIn(const std::string& component, size_t low, size_t high) {
  return component.size() >= low && component.size() <= high;
}

bool HasComponent(const CompiledFormat& compiled, char letter) {
  return std::any_of(compiled.components.begin(), compiled.components.end(),
                     [letter](const std::string& c) { return c.front() == letter; });
}

// The most digits a component reads. Without separators each component reads
// its own length; so does one followed directly by another digit component,
// since nothing else could end its run. Otherwise any number: "d/m/yyyy"
// reads 5/3/2024.
size_t DigitLimit(const std::string& component, const std::string* adjacent, bool hasSeparators) {
  bool bounded = !hasSeparators || (adjacent != nullptr && adjacent->front() != 'N');
  return bounded ? component.size() : std::string::npos;
}

// Whether the template holds the marker of component at position t.
bool IsMarkerAt(std::string_view templateText, size_t t, const std::string& component) {
  return t + 1 < templateText.size() && templateText[t] == marker &&
         templateText[t + 1] == component.front();
}

// A walk over a template: a "%" followed by the letter of the next component
// stands for that component, every other character for itself (so a "%"
// written as a separator stays a separator). onComponent gets the component
// and the one that follows it directly, without a separator between them
// (nullptr when a separator or the end follows).
template <typename OnComponent, typename OnLiteral>
bool WalkTemplate(std::string_view templateText, std::span<const std::string* const> components,
                  OnComponent onComponent, OnLiteral onLiteral) {
  size_t next = 0;
  for (size_t t = 0; t < templateText.size(); ++t) {
    if (next < components.size() && IsMarkerAt(templateText, t, *components[next])) {
      const std::string* adjacent = nullptr;
      if (next + 1 < components.size() && IsMarkerAt(templateText, t + 2, *components[next + 1]))
        adjacent = components[next + 1];
      if (!onComponent(*components[next], adjacent)) return false;
      ++next;
      ++t;
    } else if (!onLiteral(templateText[t])) {
      return false;
    }
  }
  return true;
}

std::array<const std::string*, 3> DateComponents(const TBRNDateFormat& format) {
  return {&format.Component1, &format.Component2, &format.Component3};
}

// Only the components that exist: a time format may stop after two.
std::vector<const std::string*> TimeComponents(const TBRNTimeFormat& format) {
  std::vector<const std::string*> components;
  for (const std::string* c : {&format.Component1, &format.Component2, &format.Component3,
                               &format.Component4, &format.Component5})
    if (!c->empty()) components.push_back(c);
  return components;
}

// Reads the text in step with a template; the walk ends, successfully, when
// either runs out.
class TextCursor {
 public:
  explicit TextCursor(std::string_view text) : text_(text) {}

  bool AtEnd() const { return position_ >= text_.size(); }

  bool TakeLiteral(char c) {
    if (AtEnd() || text_[position_] != c) return false;
    ++position_;
    return true;
  }

  // The digit run at the position, at most limit digits. Runs too long for
  // any field fail.
  bool TakeNumber(size_t limit, int32_t& value) {
    size_t start = position_;
    while (!AtEnd() && position_ - start < limit &&
           DigitChars.Contains(static_cast<unsigned char>(text_[position_])))
      ++position_;
    if (position_ == start) return false;
    // Read in place; more than 9 significant digits fit no field.
    uint64_t number = 0;
    std::from_chars_result read =
        std::from_chars(text_.data() + start, text_.data() + position_, number);
    if (read.ec != std::errc() || number > 999999999) return false;
    value = int32_t(number);
    return true;
  }

  std::string_view TakeAmPm() {
    size_t start = position_;
    while (!AtEnd() && AmPmFormatChars.Contains(static_cast<unsigned char>(text_[position_])))
      ++position_;
    return text_.substr(start, position_ - start);
  }

 private:
  std::string_view text_;
  size_t position_ = 0;
};

// Two-digit years fall in the hundred years that start 50 years before the
// current local year.
int32_t WindowedYear(int32_t twoDigits) {
  int32_t base = CurrentLocalYear() - 50;
  int32_t year = base / 100 * 100 + twoDigits;
  return year < base ? year + 100 : year;
}

std::string Padded(int32_t value, const std::string& component, int32_t width) {
  std::string text = IntegerToString(value);
  return component.size() > 1 ? PadWithZeros(text, width) : text;
}

// The template with every component replaced by its text.
template <typename ComponentText>
std::string FillTemplate(std::string_view templateText,
                         std::span<const std::string* const> components,
                         ComponentText componentText) {
  std::string text;
  WalkTemplate(
      templateText, components,
      [&](const std::string& component, const std::string*) {
        text += componentText(component);
        return true;
      },
      [&](char c) {
        text += c;
        return true;
      });
  return text;
}

}  // namespace

void RaiseFormatStringError(std::string_view Format, std::string_view Reason) {
  throw EBRNException(1400, FormatText("Error in the format string %s (%s)", {Format, Reason}));
}

void ParseDateFormat(std::string_view Format, TBRNDateFormat& DateFormat) {
  CompiledFormat compiled = CompileFormat(Format, DateFormatChars, 3, "Too many date components");
  if (compiled.components.size() < 3)
    RaiseFormatStringError(Format, "Missing year (y), month (m), or day (d) component");
  for (const std::string& component : compiled.components) {
    switch (component.front()) {
      case 'D':
        if (!LengthIn(component, 1, 2)) RaiseFormatStringError(Format, "Invalid day (d) component");
        break;
      case 'M':
        if (!LengthIn(component, 1, 2))
          RaiseFormatStringError(Format, "Invalid month (m) component");
        break;
      default:
        // Three letters would write and read no year at all.
        if (component.size() != 2 && component.size() != 4)
          RaiseFormatStringError(Format, "Invalid year (y) component");
        break;
    }
  }
  // A format must be able to read back what it writes: one component of
  // each kind ("d/d/d" has no year to read).
  if (!HasComponent(compiled, 'Y') || !HasComponent(compiled, 'M') || !HasComponent(compiled, 'D'))
    RaiseFormatStringError(Format, "Missing year (y), month (m), or day (d) component");
  DateFormat.Component1 = compiled.components[0];
  DateFormat.Component2 = compiled.components[1];
  DateFormat.Component3 = compiled.components[2];
  DateFormat.Template = std::move(compiled.templateText);
  DateFormat.HasSeparators = compiled.hasSeparators;
}

void ParseTimeFormat(std::string_view Format, std::string_view AMText, std::string_view PMText,
                     TBRNTimeFormat& TimeFormat) {
  CompiledFormat compiled = CompileFormat(Format, TimeFormatChars, 5, "Too many time components");
  if (compiled.components.size() < 2)
    RaiseFormatStringError(Format, "Missing hour (h) or minute (m) component");
  for (const std::string& component : compiled.components) {
    switch (component.front()) {
      case 'H':
        if (!LengthIn(component, 1, 2))
          RaiseFormatStringError(Format, "Invalid hour (h) component");
        break;
      case 'M':
        if (!LengthIn(component, 1, 2))
          RaiseFormatStringError(Format, "Invalid minute (m) component");
        break;
      case 'S':
        if (!LengthIn(component, 1, 2))
          RaiseFormatStringError(Format, "Invalid second (s) component");
        break;
      case 'Z':
        if (component.size() != 1 && component.size() != 3)
          RaiseFormatStringError(Format, "Invalid millisecond (z) component");
        break;
      default:
        if (component.size() != 1) RaiseFormatStringError(Format, "Invalid 12-hour (a) component");
        break;
    }
  }
  // Without an hour and a minute no time can be read back ("mm:ss").
  if (!HasComponent(compiled, 'H') || !HasComponent(compiled, 'M'))
    RaiseFormatStringError(Format, "Missing hour (h) or minute (m) component");
  compiled.components.resize(5);
  TimeFormat.Component1 = compiled.components[0];
  TimeFormat.Component2 = compiled.components[1];
  TimeFormat.Component3 = compiled.components[2];
  TimeFormat.Component4 = compiled.components[3];
  TimeFormat.Component5 = compiled.components[4];
  TimeFormat.Template = std::move(compiled.templateText);
  TimeFormat.AMText = std::string(AMText);
  TimeFormat.PMText = std::string(PMText);
  TimeFormat.HasSeparators = compiled.hasSeparators;
}

bool ParseDateByFormat(std::string_view Text, const TBRNDateFormat& DateFormat, int32_t& Day) {
  Day = 0;
  TextCursor cursor(Text);
  TBRNDateParts parts;
  auto components = DateComponents(DateFormat);
  // A component's letters are all alike, so none may be empty here.
  for (const std::string* c : components)
    if (c->empty()) return false;
  bool walked = WalkTemplate(
      DateFormat.Template, components,
      [&](const std::string& component, const std::string* adjacent) {
        if (cursor.AtEnd()) return true;
        int32_t value = 0;
        if (!cursor.TakeNumber(DigitLimit(component, adjacent, DateFormat.HasSeparators), value))
          return false;
        switch (component.front()) {
          case 'Y':
            if (component.size() == 4)
              parts.Year = value;
            else if (component.size() == 2)
              parts.Year = WindowedYear(value);
            break;
          case 'M':
            parts.Month = value;
            break;
          default:
            parts.Day = value;
            break;
        }
        return true;
      },
      [&](char c) { return cursor.AtEnd() || cursor.TakeLiteral(c); });
  return walked && EncodeDayNumber(parts, Day, false);
}

bool ParseTimeByFormat(std::string_view Text, const TBRNTimeFormat& TimeFormat, int32_t& Time) {
  Time = 0;
  TextCursor cursor(Text);
  TBRNTimeParts parts;
  bool hourRead = false;
  // The 12-hour marker applies to the hour wherever it stands, also before
  // it ("PM 03:00"); the last marker read counts.
  enum class Marker { kNone, kAM, kPM } marker = Marker::kNone;
  std::vector<const std::string*> components = TimeComponents(TimeFormat);
  bool walked = WalkTemplate(
      TimeFormat.Template, components,
      [&](const std::string& component, const std::string* adjacent) {
        if (component.front() == 'N') {
          // At the end of the text the run is empty, which is the word of
          // a format whose AM or PM word is empty.
          bool atEnd = cursor.AtEnd();
          std::string_view word = cursor.TakeAmPm();
          if (TextEqualsIgnoreCase(word, TimeFormat.AMText)) {
            marker = Marker::kAM;
          } else if (TextEqualsIgnoreCase(word, TimeFormat.PMText)) {
            marker = Marker::kPM;
          } else {
            return atEnd;
          }
          return true;
        }
        if (cursor.AtEnd()) return true;
        int32_t value = 0;
        if (!cursor.TakeNumber(DigitLimit(component, adjacent, TimeFormat.HasSeparators), value))
          return false;
        switch (component.front()) {
          case 'H':
            parts.Hour = value;
            hourRead = true;
            break;
          case 'M':
            parts.Minute = value;
            break;
          case 'S':
            parts.Second = value;
            break;
          default:
            parts.MSecond = value;
            break;
        }
        return true;
      },
      [&](char c) { return cursor.AtEnd() || cursor.TakeLiteral(c); });
  if (!walked) return false;
  if (hourRead && marker == Marker::kAM && parts.Hour == 12) parts.Hour = 0;
  if (hourRead && marker == Marker::kPM && parts.Hour < 12) parts.Hour += 12;
  return EncodeTimeOfDay(parts, Time);
}

bool ParseTimestampByFormat(std::string_view Text, const TBRNDateFormat& DateFormat,
                            const TBRNTimeFormat& TimeFormat, int64_t& TS) {
  TS = 0;
  size_t blank = Text.find(' ');
  if (blank == std::string_view::npos) return false;
  int32_t day = 0;
  int32_t time = 0;
  if (!ParseDateByFormat(Text.substr(0, blank), DateFormat, day) ||
      !ParseTimeByFormat(Text.substr(blank + 1), TimeFormat, time))
    return false;
  TS = DateToTimestamp(day) + time;
  return true;
}

std::string FormatDateByFormat(int32_t Day, const TBRNDateFormat& DateFormat) {
  TBRNDateParts parts;
  DecodeDayNumber(Day, parts);
  return FillTemplate(DateFormat.Template, DateComponents(DateFormat),
                      [&](const std::string& component) {
                        switch (component.front()) {
                          case 'Y': {
                            // Four letters write four digits, two the last two.
                            std::string year = PadWithZeros(IntegerToString(parts.Year), 4);
                            if (component.size() == 4) return year;
                            if (component.size() == 2) return RightChars(year, 2);
                            return std::string{marker, 'Y'};  // a three-letter year has no text
                          }
                          case 'M':
                            return Padded(parts.Month, component, 2);
                          default:
                            return Padded(parts.Day, component, 2);
                        }
                      });
}

std::string FormatTimeByFormat(int32_t Time, const TBRNTimeFormat& TimeFormat) {
  TBRNTimeParts parts;
  DecodeTimeOfDay(Time, parts);
  std::vector<const std::string*> components = TimeComponents(TimeFormat);
  bool twelveHour = std::any_of(components.begin(), components.end(),
                                [](const std::string* c) { return c->front() == 'N'; });
  bool pm = false;
  if (twelveHour) {
    pm = parts.Hour >= 12 && parts.Hour <= 23;
    if (parts.Hour == 0) {
      parts.Hour = 12;
    } else if (parts.Hour >= 13 && parts.Hour <= 23) {
      parts.Hour -= 12;
    }
  }
  return FillTemplate(TimeFormat.Template, components, [&](const std::string& component) {
    switch (component.front()) {
      case 'H':
        return Padded(parts.Hour, component, 2);
      case 'M':
        return Padded(parts.Minute, component, 2);
      case 'S':
        return Padded(parts.Second, component, 2);
      case 'Z':
        return Padded(parts.MSecond, component, 3);
      default:
        return pm ? TimeFormat.PMText : TimeFormat.AMText;
    }
  });
}

std::string FormatTimestampByFormat(const TBRNDateFormat& DateFormat,
                                    const TBRNTimeFormat& TimeFormat, int64_t TS) {
  return FormatDateByFormat(TimestampToDate(TS), DateFormat) + " " +
         FormatTimeByFormat(TimestampToTime(TS), TimeFormat);
}

bool ParseFloatWithSeparator(std::string_view Text, char DecimalChar, double& X) {
  std::string text(Text);
  std::replace(text.begin(), text.end(), DecimalChar, '.');
  return TryTextToFloat(text, true, X);
}

bool ParseDecimalWithSeparator(std::string_view Text, char DecimalChar, int64_t& D) {
  std::string text(Text);
  std::replace(text.begin(), text.end(), DecimalChar, '.');
  return TryTextToCurrency(text, true, D);
}

bool ParseBooleanByWords(std::string_view Text, std::string_view TrueWord,
                         std::string_view FalseWord, bool& B) {
  if (TextEqualsIgnoreCase(Text, TrueWord)) {
    B = true;
    return true;
  }
  if (TextEqualsIgnoreCase(Text, FalseWord)) {
    B = false;
    return true;
  }
  return false;
}

}  // namespace brn
