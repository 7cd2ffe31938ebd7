// The text functions. Positions and counts are in characters (one byte each);
// the functions that can make a text longer than their arguments check the
// final length against MaxBuiltTextLength before they build it.
#include <algorithm>
#include <cstdint>
#include <string>

#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"
#include "foundation/values/value.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/evaluator/function_routines.h"
#include "sql/tree/expr_token.h"

namespace brn::evaluation {

namespace {

// The count of LEFT, RIGHT and REPEAT: argument 1, a negative count
// counting as 0.
int64_t CountArgument(TBRNExprEvaluator& E, TBRNExprToken* Node, int32_t Index) {
  TBRNExprToken* count = EvaluatedArgument(E, Node, Index);
  return count == nullptr ? 0 : std::max<int64_t>(count->Value->GetAsInteger(), 0);
}

// The first character of an argument's text (a trim or quote character).
char FirstCharacter(const TBRNExprToken* Argument, char Default) {
  if (Argument == nullptr) return Default;
  const std::string text = Argument->Value->GetAsString();
  return text.empty() ? Default : text[0];
}

void TrimRoutine(TBRNExprEvaluator& E, TBRNExprToken* Node,
                 std::string (*Trim)(std::string_view, char)) {
  TBRNExprToken* character = EvaluatedArgument(E, Node, 0);
  TBRNExprToken* text = EvaluatedArgument(E, Node, 1);
  if (StopsOnNull(E, Node, text)) return;
  const std::string value = text->Value->GetAsString();
  // An empty trim character (a NULL parameter) trims nothing.
  if (character == nullptr || character->Value->GetAsString().empty()) {
    Node->Value->SetAsString(value);
    return;
  }
  Node->Value->SetAsString(Trim(value, FirstCharacter(character, ' ')));
}

}  // namespace

void EvaluateConcat(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* first = EvaluatedArgument(E, Node, 0);
  TBRNExprToken* second = EvaluatedArgument(E, Node, 1);
  if (StopsOnNull(E, Node, first) || StopsOnNull(E, Node, second)) return;
  std::string result = first->Value->GetAsString();
  const std::string tail = second->Value->GetAsString();
  CheckBuiltTextLength(int64_t(result.size()) + int64_t(tail.size()));
  result += tail;
  Node->Value->SetAsString(result);
}

void EvaluateLeft(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* text = EvaluatedArgument(E, Node, 0);
  if (StopsOnNull(E, Node, text)) return;
  const int64_t count = CountArgument(E, Node, 1);
  const std::string value = text->Value->GetAsString();
  Node->Value->SetAsString(std::string_view(value).substr(0, size_t(count)));
}

void EvaluateRight(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* text = EvaluatedArgument(E, Node, 0);
  if (StopsOnNull(E, Node, text)) return;
  const int64_t count = CountArgument(E, Node, 1);
  const std::string value = text->Value->GetAsString();
  Node->Value->SetAsString(RightChars(value, int32_t(std::min<int64_t>(count, INT32_MAX))));
}

void EvaluateSubstring(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* text = EvaluatedArgument(E, Node, 0);
  if (StopsOnNull(E, Node, text)) return;
  TBRNExprToken* startArgument = EvaluatedArgument(E, Node, 1);
  TBRNExprToken* countArgument = EvaluatedArgument(E, Node, 2);
  const std::string value = text->Value->GetAsString();
  const int64_t length = int64_t(value.size());
  // Positions before the first count as the first.
  const int64_t start =
      std::max<int64_t>(startArgument == nullptr ? 1 : startArgument->Value->GetAsInteger(), 1);
  int64_t count =
      countArgument == nullptr ? length - start + 1 : int64_t(countArgument->Value->GetAsInteger());
  count = std::max<int64_t>(count, 0);
  if (start > length) {
    Node->Value->SetAsString("");
    return;
  }
  Node->Value->SetAsString(std::string_view(value).substr(size_t(start - 1), size_t(count)));
}

void EvaluateRepeat(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* text = EvaluatedArgument(E, Node, 0);
  if (StopsOnNull(E, Node, text)) return;
  const int64_t count = CountArgument(E, Node, 1);
  const std::string value = text->Value->GetAsString();
  if (value.empty() || count == 0) {
    Node->Value->SetAsString("");
    return;
  }
  CheckBuiltTextLength(int64_t(value.size()) * count);
  Node->Value->SetAsString(RepeatString(value, int32_t(count)));
}

void EvaluateReplace(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* search = EvaluatedArgument(E, Node, 0);
  TBRNExprToken* replacement = EvaluatedArgument(E, Node, 1);
  TBRNExprToken* text = EvaluatedArgument(E, Node, 2);
  if (StopsOnNull(E, Node, search) || StopsOnNull(E, Node, replacement) ||
      StopsOnNull(E, Node, text))
    return;
  const std::string oldText = search->Value->GetAsString();
  const std::string newText = replacement->Value->GetAsString();
  const std::string value = text->Value->GetAsString();
  if (oldText.empty()) {
    Node->Value->SetAsString(value);
    return;
  }
  const int64_t occurrences = CountOccurrences(oldText, value);
  CheckBuiltTextLength(int64_t(value.size()) +
                       occurrences * (int64_t(newText.size()) - int64_t(oldText.size())));
  Node->Value->SetAsString(ReplaceAllText(value, oldText, newText, false));
}

void EvaluatePosition(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* search = EvaluatedArgument(E, Node, 0);
  TBRNExprToken* text = EvaluatedArgument(E, Node, 1);
  if (search == nullptr || text == nullptr || text->Value->GetNull()) {
    Node->Value->SetAsInteger(0);
    return;
  }
  Node->Value->SetAsInteger(TextPos(search->Value->GetAsString(), text->Value->GetAsString()));
}

void EvaluateOccurs(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* search = EvaluatedArgument(E, Node, 0);
  TBRNExprToken* text = EvaluatedArgument(E, Node, 1);
  if (search == nullptr || text == nullptr || text->Value->GetNull()) {
    Node->Value->SetAsInteger(0);
    return;
  }
  Node->Value->SetAsInteger(
      CountOccurrences(search->Value->GetAsString(), text->Value->GetAsString()));
}

void EvaluateLength(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* argument = EvaluatedArgument(E, Node, 0);
  if (argument == nullptr || argument->Value->GetNull()) {
    Node->Value->SetAsInteger(0);
    return;
  }
  Node->Value->SetAsInteger(argument->Value->GetLength());
}

void EvaluateLower(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* text = EvaluatedArgument(E, Node, 0);
  if (StopsOnNull(E, Node, text)) return;
  Node->Value->SetAsString(
      LowerCaseCollated(text->Value->GetCollation(), text->Value->GetAsString()));
}

void EvaluateUpper(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* text = EvaluatedArgument(E, Node, 0);
  if (StopsOnNull(E, Node, text)) return;
  Node->Value->SetAsString(
      UpperCaseCollated(text->Value->GetCollation(), text->Value->GetAsString()));
}

void EvaluateQuotedStr(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TBRNExprToken* text = EvaluatedArgument(E, Node, 0);
  TBRNExprToken* quote = EvaluatedArgument(E, Node, 1);
  if (StopsOnNull(E, Node, text)) return;
  const char quoteChar = FirstCharacter(quote, '\'');
  const std::string value = text->Value->GetAsString();
  CheckBuiltTextLength(int64_t(value.size()) + 2 +
                       int64_t(std::count(value.begin(), value.end(), quoteChar)));
  Node->Value->SetAsString(QuoteString(value, quoteChar));
}

void EvaluateTrimBoth(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TrimRoutine(E, Node, &TrimChar);
}

void EvaluateTrimLeading(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TrimRoutine(E, Node, &TrimLeadingChar);
}

void EvaluateTrimTrailing(TBRNExprEvaluator& E, TBRNExprToken* Node) {
  TrimRoutine(E, Node, &TrimTrailingChar);
}

void EvaluateCurrentGuid(TBRNExprEvaluator&, TBRNExprToken* Node) {
  Node->Value->SetAsString(NewGUIDString());
}

}  // namespace brn::evaluation
