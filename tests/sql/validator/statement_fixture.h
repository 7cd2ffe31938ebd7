#pragma once

// Whole statements through parse and validation: a statement owner over the
// types catalog that also binds trigger row references (OLDROW.x, NEWROW.x
// to the trigger root's row variables), knows a few more procedures, and
// counts what the checks open and close.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "foundation/text/collation.h"
#include "foundation/text/exception.h"
#include "sql/parser/parse_flags.h"
#include "sql/tree/expr_token.h"
#include "sql/tree/expr_tree_algorithms.h"
#include "sql/validator/expr_validator.h"
#include "sql/validator/validator_fixture.h"

namespace brn::testing {

inline constexpr TBRNParseFlags kValidatedStatementFlags =
    pcQueries | pcSchemaQualifier | pcColumnQualifier | pcDynamicParams;

// The types catalog plus:
//   U (a Integer, b Integer, c Integer, d Integer) and
//   procedure Two (x Integer, y VarChar(10)).
inline TestCatalog StatementCatalog() {
  TestCatalog catalog = TypesCatalog();
  catalog.Tables.push_back(
      {"",
       "Default",
       "U",
       21,
       {{"a", dtInteger}, {"b", dtInteger}, {"c", dtInteger}, {"d", dtInteger}}});
  catalog.Routines.push_back({"Two", false, 31, dtNull, 0, {{"x", dtInteger}, {"y", dtChar, 10}}});
  return catalog;
}

class StatementOwner24 : public ValidatorOwner {
 public:
  StatementOwner24()
      : ValidatorOwner(StatementCatalog(), TestParseMode::Statement, kValidatedStatementFlags) {
    AllowQualifier = true;
    AddTypesSubTypes(*this);
  }
  ~StatementOwner24() override { ClearRoot(); }

  int OpenQualifiedCalls = 0;
  std::vector<std::string> Used;  // "+name" for Begin, "-name" for End

  // OLDROW.c and NEWROW.c inside a trigger bind to the trigger's row
  // variables; every row column is an Integer.
  void ResolveRowIdentifier(TBRNExprToken* Node) override {
    const bool oldRow = TextEqualsIgnoreCase(Node->SchemaName, "OLDROW");
    const bool newRow = TextEqualsIgnoreCase(Node->SchemaName, "NEWROW");
    TBRNExprToken* trigger = Node->Parent;
    while (trigger && trigger->Kind != tkTriggerName) trigger = trigger->Parent;
    if ((!oldRow && !newRow) || !trigger) return ValidatorOwner::ResolveRowIdentifier(Node);
    Node->Kind = tkRowColumnReference;
    Node->Link = trigger->Argument(1)->Argument(oldRow ? 0 : 1);
    Node->SetDataType(dtInteger);
  }
  // Names print as the text builder writes them (the shared owner prints
  // every node but an expression in the printer's generic form); a select
  // item prints as its expression.
  void BuildText(const TBRNExprToken* Node, bool Plan, std::string& Text, bool A, bool B) override {
    if (Node && Node->Kind == tkSelectItem && Node->ArgumentCount() > 0)
      return BuildText(Node->Argument(0), Plan, Text, A, B);
    switch (Node ? Node->Kind : tkNone) {
      case tkVariable:
      case tkArrayVariable:
      case tkVariableReference:
      case tkArrayReference:
      case tkCursorDeclaration:
      case tkCursorReference:
      case tkStatementName:
      case tkStatementReference:
      case tkRoutineParam:
      case tkRoutineParamReference:
      case tkRowColumnReference:
        Text = Node->SchemaName.empty() ? Node->Name : Node->SchemaName + "." + Node->Name;
        return;
      default:
        return ValidatorOwner::BuildText(Node, Plan, Text, A, B);
    }
  }
  void OpenQualifiedDatabase(TBRNExprToken*) override { ++OpenQualifiedCalls; }
  void BeginUseDatabase(TBRNExprToken* UseNode) override {
    Used.push_back("+" + (UseNode ? UseNode->Name : std::string()));
  }
  void EndUseDatabase(TBRNExprToken* UseNode) override {
    Used.push_back("-" + (UseNode ? UseNode->Name : std::string()));
  }
};

// One statement parsed and validated; afterwards Owner holds the validated
// tree (or none after an error), Error the error as "error l:c message" or
// empty. The release pass runs after an error (as the session does) and,
// for a run that passed, when Release() is called.
struct StatementRun {
  // Fixed: a tree to validate instead of parsing Text (copied; not owned).
  explicit StatementRun(std::string_view Text, const TBRNExprToken* Fixed = nullptr)
      : Validator(true) {
    Owner.FixedTree = Fixed;
    Owner.OnValidate = [this](TestOwner& owner) {
      Validator.SetExpression(owner);
      ValidateReleasingOnError(Validator);
    };
    Error = CompileError(Owner, Text);
  }
  void Release() { Validator.ReleaseReferences(); }

  StatementOwner24 Owner;
  TBRNExprValidator Validator;
  std::string Error;
};

// "ok" or the error of one statement.
inline std::string StatementOutcome(std::string_view Text) {
  StatementRun run(Text);
  return run.Error.empty() ? "ok" : run.Error;
}

struct OutcomeCase {
  std::string Text;
  std::string Expected;  // "ok" or "error <line>:<column> <message>"
};

// Expects each statement's outcome, naming the statement when it differs.
inline void checkOutcomes(const std::vector<OutcomeCase>& Cases) {
  for (const OutcomeCase& c : Cases) EXPECT_EQ(StatementOutcome(c.Text), c.Expected) << c.Text;
}

// The node at a dotted path of argument indexes ("0.5.1.0"); "L" and "R"
// step to Left and Right.
inline TBRNExprToken* NodeAt(TBRNExprToken* Node, std::string_view Path) {
  size_t start = 0;
  while (Node && start < Path.size()) {
    size_t end = Path.find('.', start);
    if (end == std::string_view::npos) end = Path.size();
    const std::string_view step = Path.substr(start, end - start);
    if (step == "L")
      Node = Node->Left();
    else if (step == "R")
      Node = Node->Right();
    else {
      const int index = std::stoi(std::string(step));
      Node = index < Node->ArgumentCount() ? Node->Argument(index) : nullptr;
    }
    start = end + 1;
  }
  return Node;
}

}  // namespace brn::testing
