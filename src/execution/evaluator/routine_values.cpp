#include "execution/evaluator/routine_values.h"

#include <exception>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "execution/evaluator/evaluator_context.h"
#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/evaluator/statement_values.h"
#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "foundation/text/number_text.h"
#include "foundation/text/string_helpers.h"
#include "foundation/values/param_value.h"
#include "metadata/catalog/catalog_expr.h"
#include "metadata/catalog/routines.h"
#include "sessions/databases/local_database_manager.h"
#include "sessions/ddl/routine_manager.h"
#include "sessions/local/local_session_manager.h"
#include "sql/tree/expr_token.h"
#include "storage/tables/virtual_table_manager.h"

namespace brn {

namespace {

constexpr int32_t kParamList = 0;
constexpr int32_t kResultParam = 2;

TBRNExprToken* argumentOrNull(const TBRNExprToken* node, int32_t index) {
  if (node == nullptr || index >= node->ArgumentCount()) return nullptr;
  return node->Argument(index);
}

// The root of the routine whose tree holds node, when node calls that very
// routine (a function calling itself, or a procedure CALLing itself).
TBRNExprToken* selfCalledRoot(const TBRNExprToken* node) {
  TBRNExprToken* root = node->Parent;
  while (root != nullptr && root->Kind != tkFunctionName && root->Kind != tkProcedureName)
    root = root->Parent;
  if (root == nullptr) return nullptr;
  const TBRNExprTokenKind wanted = node->Kind == tkRoutineCall ? tkProcedureName : tkFunctionName;
  if (root->Kind != wanted || !TextEqualsIgnoreCase(root->Name, node->Name)) return nullptr;
  return root;
}

std::string routineMessage(const TBRNExprToken& node, const std::string& detail) {
  return FormatText("An error occurred with the %s routine at line %s and column %s (%s)",
                    {node.Name, IntegerToString(node.Line), IntegerToString(node.Column), detail});
}

// The rights of the routine's owner for the scope.
class OwnerRights {
 public:
  OwnerRights(TBRNLocalDatabaseManager& database, TBRNRoutine* routine) {
    if (routine == nullptr) return;
    database.PushUser(database.GetObjectOwner(routine));
    database_ = &database;
  }
  ~OwnerRights() {
    if (database_ != nullptr) database_->PopUser();
  }
  OwnerRights(const OwnerRights&) = delete;
  OwnerRights& operator=(const OwnerRights&) = delete;

 private:
  TBRNLocalDatabaseManager* database_ = nullptr;
};

// Saved parameter values given back, last saved first, on every exit.
class SavedParams {
 public:
  explicit SavedParams(TBRNLocalExprEvaluator& evaluator) : evaluator_(evaluator) {}
  ~SavedParams() {
    for (auto node = saved_.rbegin(); node != saved_.rend(); ++node) evaluator_.RestoreTokenValue(*node);
  }
  SavedParams(const SavedParams&) = delete;
  SavedParams& operator=(const SavedParams&) = delete;

  void Save(TBRNExprToken* node) {
    saved_.reserve(saved_.size() + 1);
    evaluator_.SaveTokenValue(node);
    saved_.push_back(node);
  }

 private:
  TBRNLocalExprEvaluator& evaluator_;
  std::vector<TBRNExprToken*> saved_;
};

// target becomes a copy of source, type and data.
void copyValue(TBRNContainedValue& target, const TBRNValue& source) {
  target.SetDataType(source.GetDataType());
  target.SetDataSubType(source.GetSubType());
  target.SetScale(source.GetScale());
  target.SetCollation(source.GetCollation());
  target.SetLength(source.GetLength());
  target.Assign(source);
}

bool takesInput(const TBRNValue& param) {
  const auto* value = dynamic_cast<const TBRNParamValue*>(&param);
  const int32_t direction = value != nullptr ? value->GetDirection() : pmInput;
  return direction == pmInput || direction == pmInputOutput || direction == pmNotSet;
}

bool givesOutput(const TBRNValue& param) {
  const auto* value = dynamic_cast<const TBRNParamValue*>(&param);
  const int32_t direction = value != nullptr ? value->GetDirection() : pmInput;
  return direction == pmOutput || direction == pmInputOutput;
}

}  // namespace

void RaiseRoutineNestingError() {
  throw EBRNException(kBRNRoutineErrorCode,
                      FormatText("Routines cannot be nested more than %s levels deep",
                                 {IntegerToString(GetMaxRoutineNesting())}));
}

TBRNRoutineValue::TBRNRoutineValue(TBRNLocalExprEvaluator* evaluator, TBRNExprToken* node)
    : Evaluator(evaluator), Node(node) {
  SetDataType(node->DataType);
  SetDataSubType(node->SubType);
  SetScale(node->Scale);
  SetCollation(node->Collation);
  SetLength(node->Size);
  SetRaiseOnTruncation(false);
}

TBRNRoutineValue::~TBRNRoutineValue() {
  try {
    Unprepare();
  } catch (...) {
    // The manager's close logs its own failure.
  }
}

void TBRNRoutineValue::Unprepare() {
  TBRNSchemaObjectManager* manager = std::exchange(manager_, nullptr);
  database_ = nullptr;
  if (manager != nullptr) manager->Close(false, true);
}

TBRNExprToken* TBRNRoutineValue::prepare(TBRNLocalDatabaseManager& database,
                                         TBRNRoutine*& routine) {
  routine = nullptr;
  if (TBRNExprToken* root = selfCalledRoot(Node)) return root;
  if (manager_ != nullptr && database_ != &database) Unprepare();
  if (manager_ == nullptr) {
    manager_ = database.OpenRoutineManager(Node->SchemaName, Node->Name);
    database_ = &database;
  }
  auto* manager = dynamic_cast<TBRNRoutineManager*>(manager_);
  if (manager == nullptr) throw std::logic_error("The routine's manager is no routine manager");
  routine = manager->GetRoutine();
  if (routine->Implementation == kRoutineExternal)
    throw EBRNException(kBRNRoutineErrorCode,
                        "External routines cannot be called from SQL by this engine");
  if (!routine->Definition->Compiled) routine->Definition->Compile();
  if (routine->Definition->Root == nullptr)
    throw EBRNException(kBRNRoutineErrorCode, "The routine has no body");
  return routine->Definition->Root;
}

void TBRNRoutineValue::run(TBRNLocalDatabaseManager& database) {
  TBRNRoutineNestingScope depth;
  if (!depth.Enter()) RaiseRoutineNestingError();
  TBRNRoutine* routine = nullptr;
  TBRNExprToken* root = prepare(database, routine);
  TBRNExprToken* params = argumentOrNull(root, kParamList);
  TBRNExprToken* result = argumentOrNull(argumentOrNull(root, kResultParam), 0);

  // The arguments as they are now: an argument that reads a parameter of
  // this very routine would read the fresh value once it is saved.
  std::vector<TBRNContainedValue> arguments(size_t(Node->ArgumentCount()));
  for (int32_t i = 0; i < Node->ArgumentCount(); ++i)
    if (TBRNExprToken* argument = Node->Argument(i); argument != nullptr && argument->Value)
      copyValue(arguments[size_t(i)], *argument->Value);

  SavedParams saved(*Evaluator);
  std::vector<TBRNExprToken*> paramNodes;
  if (params != nullptr)
    for (TBRNExprToken* param : params->Arguments())
      if (param != nullptr) paramNodes.push_back(param);
  for (TBRNExprToken* param : paramNodes) {
    saved.Save(param);
    Evaluator->CreateTokenValue(param);
  }
  if (result != nullptr) {
    saved.Save(result);
    Evaluator->CreateTokenValue(result);
    result->Value->SetNull(true);
  }
  for (size_t i = 0; i < paramNodes.size(); ++i) {
    TBRNValue& param = *paramNodes[i]->Value;
    if (i >= arguments.size() || Node->Argument(int32_t(i)) == nullptr) {
      param.SetNull(true);
      continue;
    }
    if (takesInput(param)) param.Assign(arguments[i]);
  }

  {
    OwnerRights rights(database, routine);
    TBRNEvaluatorContext context;
    context.SetDatabaseManager(&database);
    if (TBRNLocalSessionManager* session = Evaluator->GetSession())
      context.BindSessionEvents(*session);
    TBRNEvaluationScope scope(*Evaluator, context);
    Evaluator->ExecuteRoutine(root);
  }

  for (size_t i = 0; i < paramNodes.size() && i < size_t(Node->ArgumentCount()); ++i) {
    const TBRNValue& param = *paramNodes[i]->Value;
    TBRNExprToken* argument = Node->Argument(int32_t(i));
    if (argument == nullptr || argument->Value == nullptr || !givesOutput(param)) continue;
    argument->Value->Assign(param);
  }
  if (result != nullptr && result->Value != nullptr)
    Assign(*result->Value);
  else
    SetNull(true);
}

void TBRNRoutineValue::Execute() {
  SetNull(true);
  TBRNLocalDatabaseManager* database = nullptr;
  if (TBRNEvaluatorContext* context = Evaluator->GetEvaluatorContext())
    database = context->CurrentDatabase;
  if (database == nullptr) database = Evaluator->SessionContext().CurrentDatabase;
  try {
    if (database == nullptr)
      throw EBRNException(kBRNRoutineErrorCode,
                          FormatText("An attempt was made to execute the unprepared procedure %s",
                                     {Node->Name}));
    run(*database);
  } catch (const EBRNException& error) {
    throw EBRNException(error.ErrorCode, routineMessage(*Node, error.ErrorMessage), Node->Line,
                        Node->Column);
  } catch (const std::exception& error) {
    throw EBRNException(kBRNRoutineErrorCode, routineMessage(*Node, error.what()), Node->Line,
                        Node->Column);
  }
}

}  // namespace brn
