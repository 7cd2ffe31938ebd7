#include "foundation/text/identifiers.h"

namespace brn {

namespace {

bool InClass(const TBRNCharSet& set, char c) {
  return set.Contains(static_cast<unsigned char>(c));
}

}  // namespace

bool IsValidIdentifier(std::string_view name) {
  if (name.empty() || !InClass(IdentifierStartChars, name.front())) return false;
  for (char c : name.substr(1))
    if (!InClass(IdentifierChars, c)) return false;
  return true;
}

std::string MakeIdentifier(std::string_view name) {
  std::string result(name);
  if (result.empty()) return result;
  if (!InClass(IdentifierStartChars, result.front())) result.front() = '_';
  for (char& c : result)
    if (!InClass(IdentifierChars, c)) c = '_';
  return result;
}

}  // namespace brn
