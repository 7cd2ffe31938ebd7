// The block runner of the local evaluator: declarations, statement lists,
// blocks with their RETURN, FINALLY and EXCEPTION sections, and routine
// bodies.

#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "execution/evaluator/local_expr_evaluator.h"
#include "execution/evaluator/statement_values.h"
#include "execution/queries/cursor_value.h"
#include "foundation/text/exception.h"
#include "sessions/databases/local_database_manager.h"
#include "sql/tree/expr_token.h"

namespace brn {

namespace {

constexpr int32_t kBodyPosition = 5;
// The sensitivity a cursor declaration keeps in its name node's variant.
constexpr int32_t kInsensitiveCursor = 2;

TBRNExprToken* argumentOrNull(const TBRNExprToken* node, int32_t index) {
  if (node == nullptr || index >= node->ArgumentCount()) return nullptr;
  return node->Argument(index);
}

// The names whose values a DECLARE creates, in order: the declared names,
// or for a cursor the node that carries its statement value.
template <typename Visit>
void forEachDeclaredNode(TBRNExprToken* declaration, Visit&& visit) {
  TBRNExprToken* names = argumentOrNull(declaration, 0);
  TBRNExprToken* first = argumentOrNull(names, 0);
  if (first == nullptr) return;
  if (first->Kind == tkCursorDeclaration) {
    if (TBRNExprToken* statement = argumentOrNull(first, 1)) visit(statement);
    return;
  }
  for (TBRNExprToken* name : names->Arguments())
    if (name != nullptr) visit(name);
}

// The statement node of a cursor declared WITH RETURN; nullptr for any
// other declaration.
TBRNExprToken* returnedCursorStatement(const TBRNExprToken* declaration) {
  TBRNExprToken* first = argumentOrNull(argumentOrNull(declaration, 0), 0);
  if (first == nullptr || first->Kind != tkCursorDeclaration) return nullptr;
  if (argumentOrNull(first, 0) == nullptr) return nullptr;
  return argumentOrNull(first, 1);
}

// The result parameter of the function whose body holds block; nullptr in
// procedures, scripts and anything else.
TBRNExprToken* resultParameterOf(const TBRNExprToken* block) {
  for (const TBRNExprToken* node = block; node != nullptr; node = node->Parent) {
    switch (node->Kind) {
      case tkFunctionName:
      case tkProcedureName:
      case tkScript:
        return argumentOrNull(argumentOrNull(node, 2), 0);
      default:
        break;
    }
  }
  return nullptr;
}

bool isTransfer(const TBRNExprToken* node) {
  switch (node->Operation) {
    case opLeave:
    case opIterate:
    case opRetry:
      return true;
    default:
      return false;
  }
}

// Counts one running activation of a block for as long as it lives.
class ActivationCount {
 public:
  ActivationCount(std::unordered_map<const TBRNExprToken*, int32_t>& counts,
                  const TBRNExprToken* block)
      : counts_(counts), block_(block) {
    ++counts_[block_];
  }
  ~ActivationCount() {
    auto found = counts_.find(block_);
    if (found != counts_.end() && --found->second <= 0) counts_.erase(found);
  }
  ActivationCount(const ActivationCount&) = delete;
  ActivationCount& operator=(const ActivationCount&) = delete;

 private:
  std::unordered_map<const TBRNExprToken*, int32_t>& counts_;
  const TBRNExprToken* block_;
};

// Puts the error an enclosing handler was handling back when a handler ends.
class HandledErrorScope {
 public:
  HandledErrorScope(TBRNEvaluatorContext& context, const EBRNException* error)
      : context_(context), previous_(context.CurrentError) {
    context_.CurrentError = error;
  }
  ~HandledErrorScope() { context_.CurrentError = previous_; }
  HandledErrorScope(const HandledErrorScope&) = delete;
  HandledErrorScope& operator=(const HandledErrorScope&) = delete;

 private:
  TBRNEvaluatorContext& context_;
  const EBRNException* previous_;
};

}  // namespace

// ---- Declarations

void TBRNLocalExprEvaluator::DeclareAll(TBRNExprToken* declarations) {
  if (declarations == nullptr) return;
  // The nodes whose values were saved so far, so that a failing DEFAULT
  // leaves the saved-value stack as it found it.
  std::vector<TBRNExprToken*> declared;
  try {
    for (TBRNExprToken* declaration : declarations->Arguments()) {
      if (declaration == nullptr) continue;
      TBRNExprToken* first = argumentOrNull(argumentOrNull(declaration, 0), 0);
      if (first == nullptr) continue;
      TBRNExprToken* initial = nullptr;
      if (first->Kind == tkVariable || first->Kind == tkArrayVariable) {
        // The array's size is read when each array value is created.
        initial = argumentOrNull(declaration, 3);
        if (initial != nullptr) {
          // A DEFAULT query reads the parameters of this call.
          RestartQueryExecutions(initial);
          Evaluate(initial);
        }
      }
      forEachDeclaredNode(declaration, [&](TBRNExprToken* name) {
        SaveTokenValue(name);
        declared.push_back(name);
        CreateTokenValue(name);
        if (first->Kind == tkCursorDeclaration) {
          // SENSITIVE and ASENSITIVE ask for a live result where the query
          // allows one; INSENSITIVE always gets a materialised one.
          if (auto* statement = dynamic_cast<TBRNStatementValue*>(name->GetOwnValue()))
            statement->RequestSensitive = first->Variant != kInsensitiveCursor;
          return;
        }
        if (name->Kind != tkVariable && name->Kind != tkArrayVariable) return;
        if (initial != nullptr)
          name->Value->Assign(*initial->Value);
        else if (name->Kind == tkVariable)
          name->Value->SetNull(true);
      });
    }
  } catch (...) {
    for (auto name = declared.rbegin(); name != declared.rend(); ++name) {
      try {
        RestoreTokenValue(*name);
      } catch (...) {  // the declaration's error passes on
      }
    }
    throw;
  }
}

void TBRNLocalExprEvaluator::UndeclareAll(TBRNExprToken* declarations) {
  if (declarations == nullptr) return;
  auto found = activeBlocks_.find(declarations->Parent);
  const bool outermost = found == activeBlocks_.end() || found->second <= 1;
  const auto list = declarations->Arguments();
  for (auto declaration = list.rbegin(); declaration != list.rend(); ++declaration) {
    if (*declaration == nullptr) continue;
    std::vector<TBRNExprToken*> names;
    forEachDeclaredNode(*declaration, [&](TBRNExprToken* name) { names.push_back(name); });
    TBRNExprToken* returned = returnedCursorStatement(*declaration);
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
      if (*name == returned && outermost) {
        // The outermost activation's result cursor stays for the handle;
        // the value saved before it is dropped.
        const int32_t count = savedValues_.GetCount();
        if (count == 0) continue;
        std::unique_ptr<TBRNValue> saved(savedValues_.GetItem(count - 1));
        savedValues_.Delete(count - 1);
        continue;
      }
      RestoreTokenValue(*name);
    }
  }
}

// ---- Statements and blocks

TBRNExprToken* TBRNLocalExprEvaluator::ExecuteStatementList(TBRNExprToken* list, bool& reraise) {
  reraise = false;
  if (list == nullptr) return nullptr;
  TBRNEvaluatorContext* context = evaluatorContext_;
  if (context == nullptr) throw std::logic_error("Statements run in an evaluator context only");
  const TBRNExprToken* owner = list->Parent;
  TBRNExprToken* result = nullptr;
  for (TBRNExprToken* statement : list->Arguments()) {
    if (statement == nullptr) continue;
    result = statement->Kind == tkBlock ? ExecuteBlock(statement)
                                        : ExecuteProceduralStatement(statement);
    if (context->IsStopped()) return result;
    if (result == nullptr) continue;
    if (isTransfer(result) && result->Link != nullptr && result->Link == owner) {
      if (result->Operation == opRetry) context->RetryRequested = true;
      result = nullptr;
    }
    break;
  }
  if (result == nullptr || result->Operation != opRaise) return result;
  if (TBRNExprToken* code = argumentOrNull(result, 0)) {
    Evaluate(code);
    std::string message;
    if (TBRNExprToken* text = argumentOrNull(result, 1)) {
      Evaluate(text);
      message = text->Value->GetAsString();
    }
    throw EBRNException(code->Value->GetAsInteger(), message);
  }
  // A RAISE without code re-raises the error being handled; outside any
  // handler it ends every enclosing block and the routine quietly.
  if (context->CurrentError != nullptr) reraise = true;
  return result;
}

void TBRNLocalExprEvaluator::RaiseCurrentError() {
  const TBRNEvaluatorContext* context = evaluatorContext_;
  if (context == nullptr || context->CurrentError == nullptr) return;
  const EBRNException& error = *context->CurrentError;
  throw EBRNException(error.ErrorCode, error.ErrorMessage, error.ErrorLine, error.ErrorColumn);
}

TBRNExprToken* TBRNLocalExprEvaluator::ExecuteBlock(TBRNExprToken* block) {
  if (block == nullptr) return nullptr;
  TBRNEvaluatorContext* context = evaluatorContext_;
  if (context == nullptr) throw std::logic_error("Blocks run in an evaluator context only");
  TBRNExprToken* declarations = argumentOrNull(block, 0);
  TBRNExprToken* statements = argumentOrNull(block, 1);
  TBRNExprToken* returned = argumentOrNull(block, 2);
  TBRNExprToken* section = argumentOrNull(block, 3);
  TBRNExprToken* finallySection = section != nullptr && section->Variant == 0 ? section : nullptr;
  TBRNExprToken* handler = section != nullptr && section->Variant == 1 ? section : nullptr;

  ActivationCount activation(activeBlocks_, block);
  DeclareAll(declarations);
  TBRNExprToken* result = nullptr;
  try {
    try {
      bool reraise = false;
      try {
        result = ExecuteStatementList(statements, reraise);
        if (reraise) RaiseCurrentError();
        if (result == nullptr && returned != nullptr) {
          TBRNExprToken* expression = argumentOrNull(returned, 0);
          if (expression != nullptr) RestartQueryExecutions(expression);
          Evaluate(expression);
          if (TBRNExprToken* parameter = resultParameterOf(block);
              parameter != nullptr && expression != nullptr) {
            if (parameter->Value == nullptr) CreateTokenValue(parameter);
            parameter->Value->Assign(*expression->Value);
          }
        }
      } catch (...) {
        // FINALLY runs in every case; an error it raises replaces this one.
        if (finallySection != nullptr) {
          ExecuteStatementList(finallySection, reraise);
          if (reraise) RaiseCurrentError();
        }
        throw;
      }
      if (finallySection != nullptr) {
        result = ExecuteStatementList(finallySection, reraise);
        if (reraise) RaiseCurrentError();
      }
    } catch (const EBRNException& error) {
      if (handler == nullptr) throw;
      // The handler's copy of the error lives while the section runs.
      const EBRNException handled = error;
      bool reraise = false;
      {
        HandledErrorScope scope(*context, &handled);
        result = ExecuteStatementList(handler, reraise);
      }
      if (reraise) throw;
    }
  } catch (...) {
    try {
      UndeclareAll(declarations);
    } catch (...) {  // the block's error passes on
    }
    throw;
  }
  UndeclareAll(declarations);
  return result;
}

// ---- Routines

void TBRNLocalExprEvaluator::ExecuteRoutine(TBRNExprToken* routine) {
  if (routine == nullptr) throw std::invalid_argument("No routine to run");
  TBRNExprToken* body = routine->Kind == tkBlock ? routine : argumentOrNull(routine, kBodyPosition);
  if (body == nullptr) return;

  auto run = [&](TBRNEvaluatorContext& context) {
    context.RunState.store(kBRNRunStateRunning, std::memory_order_release);
    context.RetryRequested = false;
    context.Aborted = false;
    ExecuteBlock(body);
    context.RestoreDefaultDatabase();
  };
  if (evaluatorContext_ != nullptr) return run(*evaluatorContext_);

  // A trigger's or job's plain context (or none): the body runs in a
  // context of its own over the same rows and trigger fields, on the
  // session's databases.
  TBRNEvaluationContext* plain = context_;
  TBRNEvaluatorContext own;
  if (plain != nullptr) {
    own.CurrentRows = plain->CurrentRows;
    own.CurrentTable = plain->CurrentTable;
    own.TriggerOperation = plain->TriggerOperation;
    own.TriggerError = plain->TriggerError;
    own.TriggerRows = plain->TriggerRows;
    own.LoadingUpdates = plain->LoadingUpdates;
  }
  // A trigger's body works on its table's database; a job's on the
  // session's.
  TBRNLocalDatabaseManager* database = sessionContext_->CurrentDatabase;
  if (plain != nullptr && plain->Environment != nullptr)
    if (auto* local = dynamic_cast<TBRNLocalDatabaseManager*>(plain->Environment)) database = local;
  own.DefaultDatabase = database;
  own.CurrentDatabase = database;
  if (session_ != nullptr) own.BindSessionEvents(*session_);
  {
    TBRNEvaluationScope scope(*this, own);
    run(own);
  }
  if (plain != nullptr) {
    plain->TriggerAbort = own.TriggerAbort || own.Aborted;
    plain->TriggerRetry = own.TriggerRetry || own.RetryRequested;
  }
}

}  // namespace brn
