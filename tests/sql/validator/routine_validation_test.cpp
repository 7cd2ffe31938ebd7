// Validation of routines: parameters and declarations, duplicate names, the
// procedural statements and the targets that may receive a value, through
// CREATE FUNCTION/PROCEDURE/TRIGGER/JOB statements.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sql/validator/statement_fixture.h"

namespace brn::testing {
namespace {

std::string procedure(const std::string& Params, const std::string& Body) {
  return "CREATE PROCEDURE p (" + Params + ") BEGIN " + Body + " END";
}

std::string trigger(const std::string& Event, const std::string& Body) {
  return "CREATE TRIGGER t " + Event + " ON U BEGIN " + Body + " END";
}

TEST(RoutineValidation, DeclarationErrors) {
  checkOutcomes({
      {procedure("IN a INTEGER, IN A CHAR(3)", ""),
       "error 1:38 Invalid expression A found, duplicate variable declaration A found"},
      {procedure("", "DECLARE a INTEGER; DECLARE a CHAR(10);"),
       "error 1:56 Invalid expression a found, duplicate variable declaration a found"},
      {procedure("", "DECLARE a, b, A INTEGER;"),
       "error 1:43 Invalid expression A found, duplicate variable declaration A found"},
      {procedure("IN x INTEGER", "DECLARE y INTEGER; DECLARE X INTEGER;"),
       "error 1:68 Invalid expression X found, duplicate variable declaration X found"},
      {procedure("", "DECLARE c CURSOR FOR s; DECLARE C CURSOR FOR s2;"),
       "error 1:61 Invalid expression C found, duplicate cursor declaration C found"},
      {procedure("", "DECLARE s STATEMENT; DECLARE c CURSOR FOR S;"),
       "error 1:71 Invalid expression S found, duplicate statement declaration S found"},
      {procedure("", "DECLARE s, t, s STATEMENT;"),
       "error 1:43 Invalid expression s found, duplicate statement declaration s found"},
      {procedure("", "DECLARE c1 CURSOR WITH RETURN FOR s1; DECLARE c2 CURSOR WITH RETURN FOR s2;"),
       "error 1:75 Invalid expression c2 found, duplicate result cursor declaration c2 found"},
      {procedure("",
                 "DECLARE c1 CURSOR WITH RETURN FOR s1; BEGIN DECLARE c2 CURSOR WITH RETURN "
                 "FOR s2; END;"),
       "error 1:81 Invalid expression c2 found, duplicate result cursor declaration c2 found"},
      {procedure("", "DECLARE a INTEGER ARRAY['x'];"),
       "error 1:53 Expected SmallInt, Integer, or BigInt expression but instead found 'x'"},
      {procedure("", "DECLARE a INTEGER DEFAULT nope;"),
       "error 1:55 Expected array variable name, array variable element name, or variable name "
       "expression but instead found nope"},
      // A variable of an inner block may take an outer block's name.
      {procedure("", "DECLARE a INTEGER; BEGIN DECLARE a CHAR(3); END;"), "ok"},
      // The default is validated as an expression only.
      {procedure("", "DECLARE a INTEGER DEFAULT 'x';"), "ok"},
  });
}

TEST(RoutineValidation, ResultCursorIsRegisteredOnTheRoot) {
  StatementRun run(procedure("", "DECLARE c CURSOR WITH RETURN FOR s; DECLARE d CURSOR FOR e;"));
  ASSERT_EQ(run.Error, "");
  TBRNExprToken* root = NodeAt(run.Owner.Root, "0");
  TBRNExprToken* reference = NodeAt(root, "3");
  ASSERT_NE(reference, nullptr);
  EXPECT_EQ(reference->Kind, tkStatementReference);
  EXPECT_EQ(reference->Link, NodeAt(root, "5.0.0.0.0.1"));
  EXPECT_EQ(reference->Link->Name, "s");
  EXPECT_EQ(reference->Parent, root);

  StatementRun none(procedure("", "DECLARE d CURSOR FOR e;"));
  ASSERT_EQ(none.Error, "");
  EXPECT_EQ(NodeAt(none.Owner.Root, "0.3"), nullptr);
}

TEST(RoutineValidation, AssignmentTargets) {
  checkOutcomes({
      {procedure("IN a INTEGER", "SET a = 1;"),
       "error 1:45 Invalid expression a found, a value cannot be assigned to an INPUT parameter"},
      {procedure("a INTEGER", "SET a = 1;"),
       "error 1:42 Invalid expression a found, a value cannot be assigned to an INPUT parameter"},
      {procedure("OUT a INTEGER, INOUT b INTEGER", "SET a = 1, b = a;"), "ok"},
      {procedure("", "SET 1 = 1;"),
       "error 1:33 Expected array variable name, array variable element name, parameter name, "
       "column name, or variable name expression but instead found 1"},
      {procedure("OUT a INTEGER", "SET a = 'x';"),
       "error 1:50 Expected NULL, SmallInt, Integer, BigInt, Float, Decimal, Interval Year, "
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression but instead found 'x'"},
      {procedure("", "DECLARE x INTEGER; SET y = 1;"),
       "error 1:52 Expected array variable name, array variable element name, or variable name "
       "expression but instead found y"},
      // Whole arrays.
      {procedure("", "DECLARE a INTEGER ARRAY[10]; DECLARE b INTEGER ARRAY[20]; SET a = b;"),
       "error 1:95 Invalid expression b found, maximum array cardinality exceeded"},
      {procedure("", "DECLARE a INTEGER ARRAY[20]; DECLARE b INTEGER ARRAY[10]; SET a = b;"), "ok"},
      {procedure("", "DECLARE a INTEGER ARRAY[20]; DECLARE x INTEGER; SET a = x;"),
       "error 1:81 Invalid expression a found, invalid array assignment"},
      {procedure("", "DECLARE a INTEGER ARRAY[20]; DECLARE x INTEGER; SET x = a;"),
       "error 1:85 Invalid expression a found, invalid array assignment"},
      {procedure("", "DECLARE a INTEGER ARRAY[20]; SET a[1] = 5;"), "ok"},
  });
}

TEST(RoutineValidation, TriggerRowAssignments) {
  // Old row: only LOAD UPDATE triggers before or on error; new row: the
  // triggers that run before the change or on its error.
  const std::vector<std::pair<std::string, std::vector<bool>>> events = {
      // event, {old row assignable, new row assignable}
      {"BEFORE ALL", {false, true}},        {"BEFORE INSERT", {false, true}},
      {"BEFORE UPDATE", {false, true}},     {"BEFORE DELETE", {false, false}},
      {"BEFORE LOAD UPDATE", {true, true}}, {"AFTER ALL", {false, false}},
      {"AFTER INSERT", {false, false}},     {"AFTER UPDATE", {false, false}},
      {"AFTER DELETE", {false, false}},     {"AFTER LOAD UPDATE", {false, false}},
      {"ERROR ALL", {false, true}},         {"ERROR INSERT", {false, true}},
      {"ERROR UPDATE", {false, true}},      {"ERROR DELETE", {false, false}},
      {"ERROR LOAD UPDATE", {true, true}},
  };
  for (const auto& [event, allowed] : events) {
    for (int row = 0; row <= 1; ++row) {
      const std::string target = row == 0 ? "OLDROW.a" : "NEWROW.a";
      const std::string text = trigger(event, "SET " + target + " = 1;");
      const std::string column = std::to_string(int(text.find(target)) + 1);
      EXPECT_EQ(StatementOutcome(text),
                allowed[size_t(row)] ? "ok"
                                     : "error 1:" + column + " Invalid expression " + target +
                                           " found, a value cannot be assigned to this column "
                                           "reference")
          << text;
    }
  }
  // Reading the rows is always allowed.
  EXPECT_EQ(
      StatementOutcome(trigger("AFTER UPDATE", "DECLARE x INTEGER; SET x = OLDROW.a + NEWROW.a;")),
      "ok");
}

TEST(RoutineValidation, StatementErrors) {
  checkOutcomes({
      // Conditions: Boolean or integer, used as they are.
      {procedure("IN a INTEGER", "IF a THEN SET a = a; END IF;"),
       "error 1:55 Invalid expression a found, a value cannot be assigned to an INPUT parameter"},
      {procedure("IN a INTEGER", "IF a THEN LEAVE; END IF;"), "ok"},
      {procedure("", "IF 'x' THEN LEAVE; END IF;"),
       "error 1:32 Expected Boolean, SmallInt, Integer, or BigInt expression but instead found "
       "'x'"},
      {procedure("", "IF 1 = 1 THEN LEAVE; ELSEIF 'x' THEN LEAVE; END IF;"),
       "error 1:57 Expected Boolean, SmallInt, Integer, or BigInt expression but instead found "
       "'x'"},
      {procedure("", "CASE 'a' WHEN 'b' THEN LEAVE; END CASE;"), "ok"},
      // A simple CASE compares its operand with each WHEN value.
      {procedure("", "CASE 1 WHEN 2 THEN LEAVE; WHEN 'b' THEN LEAVE; ELSE LEAVE; END CASE;"),
       "error 1:60 Expected Boolean, SmallInt, Integer, BigInt, Float, Decimal, Interval Year, "
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression but instead found 'b'"},
      {procedure("", "CASE WHEN 'b' THEN LEAVE; END CASE;"),
       "error 1:39 Expected Boolean, SmallInt, Integer, or BigInt expression but instead found "
       "'b'"},
      {procedure("", "WHILE 'x' DO LEAVE; END WHILE;"),
       "error 1:35 Expected Boolean, SmallInt, Integer, or BigInt expression but instead found "
       "'x'"},
      {procedure("", "REPEAT LEAVE; UNTIL 2.5 END REPEAT;"),
       "error 1:49 Expected Boolean, SmallInt, Integer, or BigInt expression but instead found "
       "2.5"},
      // Labels.
      {procedure("", "LEAVE;"), "ok"},
      {procedure("", "lbl: LOOP LEAVE lbl; ITERATE lbl; ITERATE; END LOOP;"), "ok"},
      {procedure("", "LEAVE lbl;"),
       "error 1:29 Invalid expression RoutineStatement:Leave lbl found, the referenced label does "
       "not exist"},
      {procedure("",
                 "lbl: BEGIN LEAVE lbl; END; outer: WHILE TRUE DO inner: LOOP LEAVE outer; "
                 "ITERATE outer; END LOOP; END WHILE;"),
       "ok"},
      {procedure("", "lbl: BEGIN ITERATE lbl; END;"),
       "error 1:40 Invalid expression RoutineStatement:Iterate lbl found, ITERATE not allowed in "
       "non-looping statement block"},
      {trigger("ERROR INSERT", "BEGIN RETRY; END;"), "ok"},
      {procedure("", "ITERATE;"),
       "error 1:29 Invalid expression RoutineStatement:Iterate found, ITERATE not allowed in "
       "non-looping statement "
       "block"},
      // Calls: a recursive call takes the routine's own parameters.
      {procedure("IN a INTEGER", "CALL p(1);"), "ok"},
      {procedure("IN a INTEGER", "CALL p(1, 2);"),
       "error 1:51 Invalid expression 2 found, invalid number of parameters specified"},
      {procedure("IN a INTEGER", "CALL p('x');"),
       "error 1:48 Expected NULL, SmallInt, Integer, BigInt, Float, Decimal, Interval Year, "
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression but instead found 'x'"},
      {procedure("", "CALL Two(1, 'x', 3);"),
       "error 1:46 Invalid expression 3 found, invalid number of parameters specified"},
      {procedure("", "CALL Two(1);"), "ok"},
      {procedure("", "CALL Two('a', 'b');"),
       "error 1:38 Expected NULL, SmallInt, Integer, BigInt, Float, Decimal, Interval Year, "
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression but instead found 'a'"},
      {procedure("", "CALL Nope();"), "error 1:34 procedure Nope does not exist"},
      // Cursors and statements.
      {procedure("", "OPEN c;"),
       "error 1:34 Invalid expression c found, the referenced cursor does not exist"},
      {procedure("", "DECLARE s STATEMENT; EXECUTE s USING 1, nope;"),
       "error 1:69 Expected array variable name, array variable element name, or variable name "
       "expression but instead found nope"},
      {procedure("", "DECLARE s STATEMENT; PREPARE s FROM 5;"),
       "error 1:65 Expected Char, GUID, or VarChar expression but instead found 5"},
      {procedure("", "UNPREPARE s;"),
       "error 1:39 Invalid expression s found, the referenced statement does not exist"},
      {procedure("", "EXECUTE IMMEDIATE 5;"),
       "error 1:47 Expected Char, GUID, or VarChar expression but instead found 5"},
      {procedure("",
                 "DECLARE c CURSOR FOR s; DECLARE x INTEGER; FETCH ABSOLUTE 'x' FROM c INTO x;"),
       "error 1:87 Expected SmallInt, Integer, or BigInt expression but instead found 'x'"},
      {procedure("", "DECLARE c CURSOR FOR s; DECLARE x INTEGER; FETCH FROM c ('a', 'b') INTO x;"),
       "error 1:91 Invalid expression 'b' found, the number of FETCH target variables does not "
       "match the number of columns"},
      {procedure("IN a INTEGER", "DECLARE c CURSOR FOR s; FETCH FROM c INTO a;"),
       "error 1:83 Invalid expression a found, a value cannot be assigned to an INPUT parameter"},
      {procedure("", "DECLARE c CURSOR FOR s; DECLARE x INTEGER; FETCH FROM c (1) INTO x;"),
       "error 1:86 Expected Char, GUID, or VarChar expression but instead found 1"},
      {procedure("", "DECLARE c CURSOR FOR s; INSERT INTO c ('a', 'b') VALUES (1);"),
       "error 1:73 Invalid expression 'b' found, the number of INSERT values does not match the "
       "number of columns"},
      {procedure("", "DECLARE c CURSOR FOR s; UPDATE c SET 1 = 2;"),
       "error 1:66 Expected Char, GUID, or VarChar expression but instead found 1"},
      {procedure("", "DECLARE c CURSOR FOR s; REFRESH c; CLOSE c; DELETE FROM c;"), "ok"},
      // Other statements.
      {procedure("", "RAISE ERROR CODE 5 MESSAGE 'x';"), "ok"},
      {procedure("", "RAISE ERROR CODE 'x' MESSAGE 'y';"),
       "error 1:46 Expected SmallInt, Integer, or BigInt expression but instead found 'x'"},
      {procedure("", "RAISE ERROR CODE 5 MESSAGE 6;"),
       "error 1:56 Expected Char, GUID, or VarChar expression but instead found 6"},
      {procedure("", "SET PROGRESS TO 'x';"),
       "error 1:45 Expected SmallInt, Integer, BigInt, Float, or Decimal expression but instead "
       "found 'x'"},
      {procedure("", "SET LOG MESSAGE TO 1;"),
       "error 1:48 Expected Char, GUID, VarChar, CLOB, or BLOB expression but instead found 1"},
      {procedure("", "SET STATUS MESSAGE TO 'x';"), "ok"},
      {procedure("", "START TRANSACTION ON TABLES 'U', 1;"),
       "error 1:62 Expected Char, GUID, or VarChar expression but instead found 1"},
  });
}

TEST(RoutineValidation, FunctionResultAndReturn) {
  checkOutcomes({
      {"CREATE FUNCTION f (a INTEGER) RETURNS INTEGER BEGIN RETURN a + 1; END", "ok"},
      {"CREATE FUNCTION f (a INTEGER) RETURNS INTEGER BEGIN RETURN 'x'; END",
       "error 1:60 Expected NULL, SmallInt, Integer, BigInt, Float, Decimal, Interval Year, "
       "Interval Day, Interval Hour, Interval Minute, Interval Second, or Interval MSecond "
       "expression but instead found 'x'"},
      {"CREATE FUNCTION f (a INTEGER) RETURNS CHAR(3) BEGIN RETURN b; END",
       "error 1:60 Expected array variable name, array variable element name, or variable name "
       "expression but instead found b"},
      {"CREATE FUNCTION f RETURNS INTEGER EXTERNAL NAME m", "ok"},
  });
}

TEST(RoutineValidation, TypesParametersVariablesAndValues) {
  StatementRun run(
      "CREATE FUNCTION f (IN a INTEGER, INOUT b VARCHAR(10)) RETURNS DECIMAL(12,2) BEGIN "
      "DECLARE x, y BIGINT; DECLARE arr CHAR(5) ARRAY[3]; SET x = a * 2, b = b + 'z', "
      "arr[1] = b; RETURN x; END");
  ASSERT_EQ(run.Error, "");
  TBRNExprToken* root = NodeAt(run.Owner.Root, "0");
  EXPECT_EQ(NodeAt(root, "0.0")->DataType, dtInteger);
  EXPECT_EQ(NodeAt(root, "0.1")->DataType, dtChar);
  EXPECT_EQ(NodeAt(root, "0.1")->Size, 10);
  EXPECT_EQ(NodeAt(root, "2.0")->DataType, dtDecimal);
  EXPECT_EQ(NodeAt(root, "2.0")->Scale, 2);
  TBRNExprToken* body = NodeAt(root, "5");
  EXPECT_EQ(NodeAt(body, "0.0.0.1")->DataType, dtBigInt);  // y
  EXPECT_EQ(NodeAt(body, "0.1.0.0")->Size, 5);             // arr
  TBRNExprToken* set = NodeAt(body, "1.0");
  EXPECT_EQ(PrintTree(set, {.Types = true}),
            "RoutineStatement:SetVariable(List [VariableReference x(nil, nil), "
            "(RoutineParamReference a(nil, nil) * 2:Integer):Integer], List [RoutineParamReference "
            "b(nil, nil), (RoutineParamReference b(nil, nil) + 'z':VarChar(1)):VarChar], List "
            "[ArrayElement arr(List(1:Integer), nil), RoutineParamReference b(nil, nil)])");
  EXPECT_EQ(NodeAt(set, "0.L")->Link, NodeAt(body, "0.0.0.0"));
  EXPECT_EQ(NodeAt(set, "1.L")->Link, NodeAt(root, "0.1"));
  EXPECT_EQ(NodeAt(set, "2.L")->Link, NodeAt(body, "0.1.0.0"));
}

TEST(RoutineValidation, UseAndCallAreReleased) {
  StatementRun job(
      "CREATE JOB j RUN AS u FROM DATE '2020-01-01' TO DATE '2021-01-01' ONCE BETWEEN "
      "TIME '01:00' AND TIME '02:00' BEGIN USE Sales; IF TRUE THEN USE; END IF; END");
  ASSERT_EQ(job.Error, "");
  EXPECT_EQ(job.Owner.Used, (std::vector<std::string>{"+Sales", "+"}));
  job.Release();
  EXPECT_EQ(job.Owner.Used, (std::vector<std::string>{"+Sales", "+", "-Sales", "-"}));

  StatementRun call(procedure("", "LOOP CALL Two(1, 'a'); LEAVE; END LOOP;"));
  ASSERT_EQ(call.Error, "");
  EXPECT_EQ(call.Owner.OpenQualifiedCalls, 1);
  EXPECT_EQ(call.Owner.ProcedureDependencies.size(), 1u);
  call.Release();
  EXPECT_EQ(call.Owner.CloseQualifiedCalls, 1);
}

TEST(RoutineValidation, StoredFunctionCallsInAnyStatementAreReleased) {
  // Every call of a stored function opens its database; the release pass
  // must close each one, wherever the call stands (a DEFAULT, a condition,
  // a value, a nested body, a trigger's WHEN).
  for (const std::string& text : std::vector<std::string>{
           procedure("", "DECLARE x DECIMAL(12,2) DEFAULT Discount(1, 2);"),
           procedure("", "DECLARE x DECIMAL(12,2); SET x = Discount(1, 2);"),
           procedure("",
                     "IF Discount(1, 2) > 0 THEN WHILE Discount(3, 4) > 0 DO LEAVE; END "
                     "WHILE; END IF;"),
           procedure("", "REPEAT LEAVE; UNTIL Discount(1, 2) > 0 END REPEAT;"),
           procedure("", "CALL Two(1, Greeting('a'));"),
           procedure("", "SET STATUS MESSAGE TO Greeting('a');"),
           "CREATE TRIGGER t AFTER INSERT ON U WHEN Discount(1, 2) > 0 BEGIN END",
       }) {
    StatementRun run(text);
    ASSERT_EQ(run.Error, "") << text;
    ASSERT_GT(run.Owner.OpenQualifiedCalls, 0) << text;
    run.Release();
    EXPECT_EQ(run.Owner.CloseQualifiedCalls, run.Owner.OpenQualifiedCalls) << text;
  }
}

}  // namespace
}  // namespace brn::testing
