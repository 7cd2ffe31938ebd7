#include "metadata/core/ddl_text.h"

#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "metadata/core/config_object.h"

namespace brn {

std::string QuotedName(const std::string& name) {
  return QuoteString(name, '"');
}

std::string QuotedText(const std::string& text) {
  return QuoteString(TrimTrailingBlanks(text), '\'');
}

std::string VersionText(int64_t version) {
  const uint64_t hundredths = (UnsignedMagnitude(version) + 50) / 100;
  std::string text = version < 0 && hundredths != 0 ? "-" : "";
  text += std::to_string(hundredths / 100) + ".";
  AppendZeroPadded(text, hundredths % 100, 2);
  return text;
}

bool CreateOrDropDifference(TBRNConfigObject& object, int32_t kind, std::string& alterSQL) {
  if (kind == kDifferenceCreate) {
    alterSQL = object.GetCreateSQL(false, false);
    return true;
  }
  if (kind == kDifferenceDrop) {
    alterSQL = object.GetDropSQL(false, false);
    return true;
  }
  return false;
}

}  // namespace brn
