// The predicate routines: BETWEEN, IN, IS NULL, LIKE and CONTAINS with
// their negated forms. Argument 0 is the tested value V; it is evaluated
// first and, under standard NULL behaviour, a NULL V makes the result NULL
// (IS NULL and IS NOT NULL excepted). Every negated form is exactly NOT of
// its positive form, so pushing a NOT into a predicate never changes an
// answer: 5 NOT IN (NULL) and NOT (5 IN (NULL)) agree everywhere.
#include <string>
#include <string_view>

#include "foundation/text/collation.h"
#include "foundation/values/value.h"
#include "sql/evaluator/expr_evaluator.h"
#include "sql/evaluator/value_access.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

using evaluation::SetBooleanResult;

TBRNExprToken* ArgumentOrNull(const TBRNExprToken* Node, int32_t Index) {
  return Index < Node->ArgumentCount() ? Node->Argument(Index) : nullptr;
}

// The characters of a value for LIKE, in place when the value keeps text,
// else through Copy.
std::string_view LikeText(const TBRNValue& Value, std::string& Copy) {
  int32_t length = 0;
  const char* chars = Value.GetStringBuffer(length);
  if (chars != nullptr) return std::string_view(chars, size_t(length));
  Copy = Value.GetNull() ? std::string() : Value.GetAsString();
  return Copy;
}

}  // namespace

void TBRNExprEvaluator::EvaluateBetween(TBRNExprToken* Node) {
  TBRNValue& result = *Node->Value;
  TBRNExprToken* tested = ArgumentOrNull(Node, 0);
  TBRNExprToken* low = ArgumentOrNull(Node, 1);
  TBRNExprToken* high = ArgumentOrNull(Node, 2);
  if (tested == nullptr || low == nullptr || high == nullptr) return result.SetNull(true);
  EvaluateToken(tested);
  const TBRNValue& v = *tested->Value;
  if (StandardNullBehavior && v.GetNull()) return result.SetNull(true);
  EvaluateToken(low);
  EvaluateToken(high);
  if (StandardNullBehavior && (low->Value->GetNull() || high->Value->GetNull()))
    return result.SetNull(true);
  int32_t partial = Node->PartialLength;
  int32_t collation = tested->Collation;
  bool inside = CompareValues(v, *low->Value, partial, collation) >= 0 &&
                CompareValues(v, *high->Value, partial, collation) <= 0;
  SetBooleanResult(result, inside);
}

void TBRNExprEvaluator::EvaluateNotBetween(TBRNExprToken* Node) {
  EvaluateBetween(Node);
  NegateResult(Node);
}

void TBRNExprEvaluator::evaluateInPredicate(TBRNExprToken* Node) {
  TBRNValue& result = *Node->Value;
  TBRNExprToken* tested = ArgumentOrNull(Node, 0);
  if (tested == nullptr) return result.SetNull(true);
  EvaluateToken(tested);
  if (Node->ArgumentCount() < 2) return SetBooleanResult(result, false);
  const TBRNValue& v = *tested->Value;
  if (StandardNullBehavior && v.GetNull()) return result.SetNull(true);
  TBRNExprToken* first = Node->Argument(1);
  if (first != nullptr && first->Kind == tkQuery) {
    // The subquery's answer, NULL unless the override writes one.
    result.SetNull(true);
    EvaluateToken(first);
    EvaluateInQuery(tested, Node->PartialLength, Node, first);
    return;
  }
  // A member list: NULL members are skipped under standard NULL behaviour,
  // so a list holding a NULL but no match gives FALSE.
  int32_t partial = Node->PartialLength;
  int32_t collation = tested->Collation;
  for (int32_t i = 1; i < Node->ArgumentCount(); ++i) {
    TBRNExprToken* member = Node->Argument(i);
    if (member == nullptr) continue;
    EvaluateToken(member);
    const TBRNValue& m = *member->Value;
    if (StandardNullBehavior && m.GetNull()) continue;
    if (CompareValues(v, m, partial, collation) == 0) return SetBooleanResult(result, true);
  }
  SetBooleanResult(result, false);
}

void TBRNExprEvaluator::EvaluateIn(TBRNExprToken* Node) {
  evaluateInPredicate(Node);
}

void TBRNExprEvaluator::EvaluateNotIn(TBRNExprToken* Node) {
  evaluateInPredicate(Node);
  NegateResult(Node);
}

void TBRNExprEvaluator::EvaluateIsNull(TBRNExprToken* Node) {
  TBRNExprToken* tested = ArgumentOrNull(Node, 0);
  if (tested == nullptr) return Node->Value->SetNull(true);
  EvaluateToken(tested);
  if (TBRNExprToken* null = ArgumentOrNull(Node, 1)) EvaluateToken(null);
  SetBooleanResult(*Node->Value, tested->Value->GetNull());
}

void TBRNExprEvaluator::EvaluateIsNotNull(TBRNExprToken* Node) {
  TBRNExprToken* tested = ArgumentOrNull(Node, 0);
  if (tested == nullptr) return Node->Value->SetNull(true);
  EvaluateToken(tested);
  if (TBRNExprToken* null = ArgumentOrNull(Node, 1)) EvaluateToken(null);
  SetBooleanResult(*Node->Value, !tested->Value->GetNull());
}

void TBRNExprEvaluator::EvaluateLike(TBRNExprToken* Node) {
  TBRNValue& result = *Node->Value;
  TBRNExprToken* tested = ArgumentOrNull(Node, 0);
  TBRNExprToken* pattern = ArgumentOrNull(Node, 1);
  if (tested == nullptr || pattern == nullptr) return result.SetNull(true);
  EvaluateToken(tested);
  const TBRNValue& v = *tested->Value;
  if (StandardNullBehavior && v.GetNull()) return result.SetNull(true);
  EvaluateToken(pattern);
  // An empty (or NULL) escape text means no escape character.
  char escape = 0;
  if (TBRNExprToken* escapeNode = ArgumentOrNull(Node, 2)) {
    EvaluateToken(escapeNode);
    std::string copy;
    std::string_view text = LikeText(*escapeNode->Value, copy);
    if (!text.empty()) escape = text.front();
  }
  const TBRNValue& p = *pattern->Value;
  if (StandardNullBehavior && p.GetNull()) return result.SetNull(true);
  std::string textCopy;
  std::string patternCopy;
  SetBooleanResult(result, MatchLikePattern(tested->Collation, LikeText(v, textCopy),
                                            LikeText(p, patternCopy), '%', '_', escape));
}

void TBRNExprEvaluator::EvaluateNotLike(TBRNExprToken* Node) {
  EvaluateLike(Node);
  NegateResult(Node);
}

void TBRNExprEvaluator::evaluateContains(TBRNExprToken* Node, bool Any) {
  TBRNValue& result = *Node->Value;
  TBRNExprToken* tested = ArgumentOrNull(Node, 0);
  TBRNExprToken* search = ArgumentOrNull(Node, 1);
  result.SetNull(true);
  if (tested == nullptr || search == nullptr) return;
  EvaluateToken(tested);
  if (StandardNullBehavior && tested->Value->GetNull()) return;
  EvaluateToken(search);
  if (Any)
    EvaluateContainsAny(tested, search, Node);
  else
    EvaluateContains(tested, search, Node);
}

void TBRNExprEvaluator::EvaluateContainsPredicate(TBRNExprToken* Node) {
  evaluateContains(Node, false);
}

void TBRNExprEvaluator::EvaluateContainsAnyPredicate(TBRNExprToken* Node) {
  evaluateContains(Node, true);
}

void TBRNExprEvaluator::EvaluateNotContainPredicate(TBRNExprToken* Node) {
  evaluateContains(Node, false);
  NegateResult(Node);
}

void TBRNExprEvaluator::EvaluateNotContainAnyPredicate(TBRNExprToken* Node) {
  evaluateContains(Node, true);
  NegateResult(Node);
}

}  // namespace brn
