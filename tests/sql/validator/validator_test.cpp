// The validator frame: run setup, check-table dispatch, the release pass,
// the message texts of type classes and kinds, and data type nodes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "foundation/text/exception.h"
#include "sql/parser/expr_parser.h"
#include "sql/parser/parse_flags.h"
#include "sql/validator/validator_fixture.h"

namespace brn::testing {
namespace {

using ::testing::ElementsAre;

TEST(Validator, SetExpressionResetsThePerRunState) {
  ValidatorOwner owner;
  TBRNExprValidator validator(true);
  validator.FilterMode = true;
  validator.ParamDirection = opParamOut;
  validator.NextParamNumber = 7;
  validator.ExpectedType = dtBoolean;
  validator.SetExpression(owner);
  EXPECT_EQ(validator.Owner, &owner);
  EXPECT_FALSE(validator.FilterMode);
  EXPECT_EQ(validator.ParamDirection, opParamIn);
  EXPECT_EQ(validator.NextParamNumber, 1);
  EXPECT_EQ(validator.ExpectedType, dtBoolean);  // the caller sets it
  EXPECT_TRUE(validator.StandardNullBehavior);
  EXPECT_FALSE(TBRNExprValidator(false).StandardNullBehavior);
}

TEST(Validator, TypeClassDescriptions) {
  using namespace type_classes;
  struct Case {
    TBRNTypeClass Class;
    const char* Expected;
  };
  const Case cases[] = {
      {Date, "Date expression"},
      // Subtype 0 is VarChar and BLOB alike: both are named.
      {TypeClass({dtChar, dtLob}, {0, 150}), "VarChar, CLOB, or BLOB expression"},
      // A union takes every subtype of its types: Char | CLOB holds BLOB too
      // (which is why character checks test a LOB against CLOB alone).
      {Char | Clob, "Char, GUID, VarChar, CLOB, or BLOB expression"},
      {Null | Clob, "NULL or CLOB expression"},
      {TypeClass({dtChar, dtInteger, dtDate}), "VarChar, Integer, or Date expression"},
      {Null | Boolean | I, "NULL, Boolean, SmallInt, Integer, or BigInt expression"},
      {Char | Bytes, "Char, GUID, VarChar, Byte, GUID, or VarByte expression"},
      {Clob | Blob, "CLOB or BLOB expression"},
      {YM, "Interval Year or Interval Year To Month expression"},
      {YearMonthClass({2}), " expression"},
      {DT1,
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression"},
  };
  for (const Case& c : cases) EXPECT_EQ(TBRNExprValidator::DescribeTypeSet(c.Class), c.Expected);

  EXPECT_EQ(
      TBRNExprValidator::DescribeKinds({tkVariableReference, tkArrayElement, tkArrayReference}),
      "array variable name, array variable element name, or variable name expression");
  EXPECT_EQ(TBRNExprValidator::DescribeKinds({tkConstant}), "constant value expression");
  EXPECT_EQ(TBRNExprValidator::DescribeKinds({tkTableReference, tkColumnReference}),
            "column name or table name expression");
}

TEST(Validator, TypeClassMembership) {
  using namespace type_classes;
  EXPECT_TRUE((Char | Clob).Contains(dtLob, stClob));
  EXPECT_TRUE(Clob.Contains(dtLob, stClob));
  EXPECT_FALSE(Clob.Contains(dtLob, 0));
  // NULL adds no subtype of its own to a union.
  EXPECT_TRUE((Null | Clob).Contains(dtNull, 0));
  EXPECT_FALSE((Null | Clob).Contains(dtLob, 0));
  EXPECT_FALSE((Null | Clob).Contains(dtNull, stClob));
  // A code or subtype outside 0..255 never belongs.
  EXPECT_FALSE(N.Contains(dtInteger, 256));
  EXPECT_FALSE(N.Contains(-1, 0));
  EXPECT_FALSE(N.Contains(100000, 0));
}

TEST(Validator, CheckTablesDispatchByOperation) {
  // A function entry is called with the node, then the dependency recorded.
  ValidatorOwner owner(TypesCatalog());
  TBRNExprValidator validator(true);
  EXPECT_EQ(validator.FunctionChecks[opUserFunction - TBRNExprValidator::FirstFunctionCode],
            &TBRNExprValidator::ValidateUserFunctionCall);
  owner.OnValidate = [&](TestOwner& o) {
    validator.SetExpression(o);
    validator.ExpectedType = 0;
    validator.ValidateExpression();
  };
  owner.ContextTable = "Orders";
  owner.CompileText("Discount(Amount, 5)");
  EXPECT_TRUE(owner.Compiled);
  EXPECT_THAT(owner.FunctionDependencies, ElementsAre("Discount"));

  validator.FunctionChecks[opUserFunction - TBRNExprValidator::FirstFunctionCode] =
      &TBRNExprValidator::CheckNumeric;
  try {
    owner.CompileText("Greeting(City)");
    FAIL() << "the check did not run";
  } catch (const EBRNException& error) {
    EXPECT_EQ(DescribeError(error),
              "error 1:1 Expected SmallInt, Integer, BigInt, Float, or Decimal expression but "
              "instead found Greeting(City)");
  }

  // Statement roots go to the statement table only (DROP has no check of its
  // own; DELETE has).
  EXPECT_EQ(validator.StatementChecks[opDelete - TBRNExprValidator::FirstStatementCode],
            &TBRNExprValidator::ValidateDelete);
  TreeHolder statement(new TBRNExprToken);
  statement->Kind = tkStatement;
  statement->Operation = opDrop;
  statement->Line = 3;
  statement->Column = 4;
  owner.FixedTree = statement.Get();
  owner.SetText("DELETE");
  owner.Compile();
  EXPECT_TRUE(owner.Compiled);
  validator.StatementChecks[opDrop - TBRNExprValidator::FirstStatementCode] =
      &TBRNExprValidator::CheckNumeric;
  owner.SetText("DELETE FROM");
  try {
    owner.Compile();
    FAIL() << "the statement check did not run";
  } catch (const EBRNException& error) {
    EXPECT_EQ(error.ErrorLine, 3);
    EXPECT_EQ(error.ErrorColumn, 4);
  }
}

TEST(Validator, ReleasePassClosesUserFunctionDatabases) {
  ValidationRun run("Discount(Amount, Discount(1, 2))", [] {
    RunOptions options;
    options.ContextTable = "Orders";
    return options;
  }());
  ASSERT_TRUE(run.Owner.Compiled) << run.Result;
  EXPECT_EQ(run.Owner.CloseQualifiedCalls, 0);
  run.Validator.ReleaseReferences();
  EXPECT_EQ(run.Owner.CloseQualifiedCalls, 2);

  // A failed run is released by the caller as well.
  ValidationRun failed("Discount(1) + 'x'");
  EXPECT_EQ(failed.Owner.CloseQualifiedCalls, 1);
  // The call is typed from the catalog (Decimal); the text operand fails.
  EXPECT_EQ(failed.Result.substr(0, 19), "error 1:15 Expected");
}

// ---- Data type nodes ---------------------------------------------------------------

class DataTypeNodes : public ::testing::Test {
 protected:
  // Parses Text as a data type and validates it; answers the error or "".
  std::string Validate(std::string_view text) {
    owner.SetText(text);
    TBRNExprParser parser;
    parser.BeginParse(owner);
    node.Reset(new TBRNExprToken);
    node->Kind = tkDataType;
    node->Line = 1;
    node->Column = 1;
    try {
      parser.ParseDataType(node.Get(), false, false);
      validator.SetExpression(owner);
      validator.ValidateDataTypeNode(node.Get());
    } catch (const EBRNException& error) {
      return DescribeError(error);
    }
    return "";
  }

  ValidatorOwner owner;
  TBRNExprValidator validator{true};
  TreeHolder node;
};

TEST_F(DataTypeNodes, LengthsScalesAndGuids) {
  struct Case {
    const char* Text;
    int32_t Size;
    int32_t Scale;
  };
  const Case cases[] = {
      {"VARCHAR(20)", 20, 0},
      {"CHAR", 1, 0},
      {"GUID", 38, 0},
      {"BYTE(4)", 4, 0},
      {"DECIMAL(12, 3)", 0, 3},
      {"DECIMAL(12)", 0, 0},
      {"VARCHAR(40) COLLATE ANSI", 40, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Validate(c.Text), "") << c.Text;
    EXPECT_EQ(node->Size, c.Size) << c.Text;
    EXPECT_EQ(node->Scale, c.Scale) << c.Text;
  }
}

TEST_F(DataTypeNodes, InvalidLengthsAndTypes) {
  EXPECT_EQ(Validate("CHAR(0)"),
            "error 1:6 Invalid expression 0 found, an invalid length was specified");
  EXPECT_EQ(Validate("VARBYTE(0)"),
            "error 1:9 Invalid expression 0 found, an invalid length was specified");
  // A length beyond int32 is refused, not converted.
  EXPECT_EQ(Validate("CHAR(99999999999)"),
            "error 1:6 Invalid expression 99999999999 found, an invalid length was specified");
  // So is one beyond what a Char or Bytes type may declare.
  EXPECT_EQ(Validate("CHAR(1024)"), "");
  EXPECT_EQ(Validate("CHAR(1025)"),
            "error 1:6 Invalid expression 1025 found, an invalid length was specified");
  EXPECT_EQ(Validate("VARCHAR(2147483647)"),
            "error 1:9 Invalid expression 2147483647 found, an invalid length was specified");
  EXPECT_EQ(Validate("VARBYTE(1000000000)"),
            "error 1:9 Invalid expression 1000000000 found, an invalid length was specified");
  EXPECT_EQ(Validate("CHAR('a')"),
            "error 1:6 Expected SmallInt, Integer, or BigInt expression but instead found 'a'");

  node.Reset(new TBRNExprToken);
  node->Kind = tkDataType;
  node->DataType = TBRNDataTypeCode(15);
  validator.SetExpression(owner);
  try {
    validator.ValidateDataTypeNode(node.Get());
    FAIL();
  } catch (const EBRNException& error) {
    EXPECT_THAT(error.ErrorMessage,
                ::testing::HasSubstr("an invalid or unknown data type was specified"));
  }
}

}  // namespace
}  // namespace brn::testing
