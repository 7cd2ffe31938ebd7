#include "execution/handles/declared_statement.h"

#include <memory>

#include "foundation/values/value.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

constexpr int32_t kResultCursorPosition = 3;

}  // namespace

TBRNCursor* TakeResultCursor(TBRNExprToken* root, bool keep, std::unique_ptr<TBRNValue>& kept) {
  kept.reset();
  if (root == nullptr || root->ArgumentCount() <= kResultCursorPosition) return nullptr;
  TBRNExprToken* reference = root->Argument(kResultCursorPosition);
  TBRNExprToken* statement = reference != nullptr ? reference->Link : nullptr;
  if (statement == nullptr || statement->GetOwnValue() == nullptr) return nullptr;
  kept = statement->ReleaseOwnValue();
  auto* declared = keep ? dynamic_cast<TBRNDeclaredStatement*>(kept.get()) : nullptr;
  TBRNCursor* cursor = declared != nullptr ? declared->GetResultCursor() : nullptr;
  if (cursor == nullptr) kept.reset();
  return cursor;
}

}  // namespace brn
