#include "metadata/catalog/routines.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "foundation/core/memory_stream.h"
#include "foundation/test_support.h"
#include "foundation/text/exception.h"
#include "foundation/values/param_value.h"
#include "metadata/catalog/schemas.h"
#include "metadata/catalog_test_support.h"
#include "metadata/modules/module.h"
#include "sql/tree/expr_operations.h"
#include "sql/tree/expr_token.h"

namespace brn {
namespace {

using testing::CatalogFixture;
using testing::CaughtError;

// A schema stand-in that keeps a procedure, a function and an all-routines
// list, as a schema does.
class RoutineSchema : public TBRNCatalogObject, public TBRNRoutineListHolder {
 public:
  explicit RoutineSchema(TBRNCatalog* catalog)
      : TBRNCatalogObject(catalog), Routines(catalog), Procedures(catalog), Functions(catalog) {
    Name = "Default";
    Procedures.Owner = this;
    Functions.Owner = this;
  }
  ~RoutineSchema() override {
    Routines.Clear();
    Procedures.Clear();
    Functions.Clear();
  }

  TBRNRoutines Routines;  // declared first among the lists: freed last
  TBRNProcedures Procedures;
  TBRNFunctions Functions;

  std::string GetObjectTypeName() const override { return "schema"; }
  TBRNConfigObjects* GetProcedureList() override { return &Procedures; }
  TBRNConfigObjects* GetFunctionList() override { return &Functions; }
  TBRNRoutines* GetAllRoutines() override { return &Routines; }
};

class RoutinesTest : public ::testing::Test {
 protected:
  CatalogFixture fixture;
  TBRNCatalog* catalog = fixture.Catalog.get();

  // A function of the Default schema with this text (name taken from it).
  TBRNFunction* addFunction(const std::string& name, const std::string& text) {
    auto function = std::make_unique<TBRNFunction>(catalog);
    function->Name = name;
    function->Definition->SetText(text);
    catalog->DefaultSchema->Functions->AddObject(function.get());
    return function.release();
  }
  TBRNProcedure* addProcedure(const std::string& name, const std::string& text) {
    auto procedure = std::make_unique<TBRNProcedure>(catalog);
    procedure->Name = name;
    procedure->Definition->SetText(text);
    catalog->DefaultSchema->Procedures->AddObject(procedure.get());
    return procedure.release();
  }
  // Compiles and defines parameters, result and implementation from the text.
  static void define(TBRNRoutine* routine) {
    routine->Compile();
    ASSERT_NE(routine->Definition->Root, nullptr);
    routine->DefineParams(routine->Definition->Root);
    routine->DefineResult(routine->Definition->Root);
    routine->DefineImplementation(routine->Definition->Root);
  }
};

TEST_F(RoutinesTest, DefinitionGivesParametersModesAndResult) {
  TBRNFunction* function =
      addFunction("Mix",
                  "FUNCTION Mix(A INTEGER, IN B VARCHAR(20) DESCRIPTION 'second', "
                  "INOUT C INTEGER, OUT D INTEGER) RETURNS INTEGER BEGIN RETURN A; END");
  define(function);
  ASSERT_EQ(function->Params->Count(), 4);
  struct Expected {
    const char* name;
    int32_t mode;
  } expected[] = {
      {"A", kParamModeIn}, {"B", kParamModeIn}, {"C", kParamModeInOut}, {"D", kParamModeOut}};
  for (int32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(function->Params->GetParam(i)->Name, expected[i].name);
    EXPECT_EQ(function->Params->GetParam(i)->Mode, expected[i].mode) << expected[i].name;
  }
  EXPECT_EQ(function->Params->GetParam(1)->DataType, int32_t(dtChar));
  EXPECT_EQ(function->Params->GetParam(1)->Length, 20);
  EXPECT_EQ(function->Params->GetParam(1)->Description, "second");
  EXPECT_EQ(function->GetInputParamCount(), 3);   // A, B and the INOUT C
  EXPECT_EQ(function->GetOutputParamCount(), 2);  // C and D
  EXPECT_EQ(function->Result->Mode, kParamModeResult);
  EXPECT_EQ(function->Result->Name, "Result");
  EXPECT_EQ(function->Result->DataType, int32_t(dtInteger));
  EXPECT_EQ(function->Implementation, kRoutineSQL);

  TBRNProcedure* procedure = addProcedure("P", "PROCEDURE P(X INTEGER) BEGIN END");
  define(procedure);
  EXPECT_EQ(procedure->Result->Mode, kParamModeNone);
  EXPECT_EQ(procedure->Result->Name, "");
  EXPECT_EQ(procedure->Result->DataType, 0);
  EXPECT_EQ(procedure->GetObjectTypeName(), "procedure");
  EXPECT_EQ(function->GetObjectTypeName(), "function");
}

TEST_F(RoutinesTest, RenamingASelfCallingFunctionRewritesItsCallAndCompilesAgain) {
  TBRNFunction* self = addFunction(
      "Steps", "FUNCTION Steps(N INTEGER) RETURNS INTEGER BEGIN RETURN Steps(N - 1); END");
  TBRNFunction* caller =
      addFunction("Caller", "FUNCTION Caller() RETURNS INTEGER BEGIN RETURN Zero(); END");
  TBRNFunction* zero = addFunction("Zero", "FUNCTION Zero() RETURNS INTEGER BEGIN RETURN 0; END");
  self->Compile();
  // A recursive call is no reference to another function.
  EXPECT_EQ(self->ReferencedFunctions->Count(), 0);
  caller->Compile();
  ASSERT_EQ(caller->ReferencedFunctions->Count(), 1);
  EXPECT_EQ(caller->ReferencedFunctions->GetItem(0), zero);

  catalog->Modified = false;
  self->ReplaceReferencedName(self, "Down");
  EXPECT_EQ(self->Definition->SQL,
            "FUNCTION Down (N INTEGER) RETURNS INTEGER BEGIN RETURN Down(N - 1); END");
  EXPECT_TRUE(catalog->Modified);
  self->Name = "Down";
  EXPECT_NO_THROW(self->Compile());

  // A caller rewrites its call of a renamed function; others are left alone.
  caller->ReplaceReferencedName(self, "Other");
  EXPECT_EQ(caller->Definition->SQL, "FUNCTION Caller() RETURNS INTEGER BEGIN RETURN Zero(); END");
  caller->ReplaceReferencedName(zero, "Nil");
  EXPECT_EQ(caller->Definition->SQL, "FUNCTION Caller() RETURNS INTEGER BEGIN RETURN Nil(); END");
}

TEST_F(RoutinesTest, CallsOfStoredRoutinesAreCheckedAgainstTheirParameters) {
  define(addFunction("Twice", "FUNCTION Twice(N INTEGER) RETURNS INTEGER BEGIN RETURN N * 2; END"));
  define(addProcedure("Note", "PROCEDURE Note(Msg VARCHAR(20), OUT Done BOOLEAN) BEGIN END"));

  // What the compiler is told of each parameter.
  std::unique_ptr<TBRNExprToken> param = NewRoutineParamNode(catalog, "NOTE", 1, false);
  ASSERT_NE(param, nullptr);
  EXPECT_EQ(param->Kind, tkRoutineParam);
  EXPECT_EQ(param->Name, "Done");
  EXPECT_EQ(param->Index, 1);
  EXPECT_EQ(param->DataType, dtBoolean);
  EXPECT_EQ(param->Operation, opParamOut);
  param = NewRoutineParamNode(catalog, "Note", 0, false);
  ASSERT_NE(param, nullptr);
  EXPECT_EQ(param->DataType, dtChar);
  EXPECT_EQ(param->Size, 20);
  for (auto [name, index, function] : {std::tuple{"Twice", 1, true},
                                       {"Twice", -1, true},
                                       {"Twice", 0, false},
                                       {"Note", 0, true},
                                       {"None", 0, true}})
    EXPECT_EQ(NewRoutineParamNode(catalog, name, index, function), nullptr) << name << index;

  struct Case {
    const char* text;
    const char* error;  // nullptr: compiles
  };
  const Case cases[] = {
      {"FUNCTION C1(X INTEGER) RETURNS INTEGER BEGIN RETURN Twice(X) + Twice(3); END", nullptr},
      {"FUNCTION C2() RETURNS INTEGER BEGIN RETURN Twice(1, 2); END",
       "invalid number of parameters"},
      {"FUNCTION C3() RETURNS INTEGER BEGIN RETURN Twice('one'); END", "C3 function"},
      {"PROCEDURE C4() BEGIN DECLARE D BOOLEAN; CALL Note('hello', D); END", nullptr},
      {"PROCEDURE C5() BEGIN DECLARE D BOOLEAN; CALL Note('hello', D, 3); END",
       "invalid number of parameters"},
      {"PROCEDURE C6() BEGIN DECLARE D BOOLEAN; CALL Note(DATE '2026-01-01', D); END",
       "C6 procedure"},
  };
  int32_t number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string name = "C" + std::to_string(++number);
    TBRNRoutine* routine = std::string(c.text).starts_with("FUNCTION")
                               ? static_cast<TBRNRoutine*>(addFunction(name, c.text))
                               : addProcedure(name, c.text);
    if (c.error == nullptr) {
      EXPECT_NO_THROW(routine->Compile());
      EXPECT_TRUE(routine->Definition->Compiled);
      continue;
    }
    const EBRNException error = CaughtError([&] { routine->Compile(); });
    EXPECT_EQ(error.ErrorCode, 700);
    EXPECT_NE(error.ErrorMessage.find(c.error), std::string::npos) << error.ErrorMessage;
  }
  // The calls are dependencies of the callers.
  auto* caller =
      static_cast<TBRNFunction*>(catalog->DefaultSchema->Functions->FindByName("C1", true));
  ASSERT_EQ(caller->ReferencedFunctions->Count(), 1);
  EXPECT_EQ(caller->ReferencedFunctions->GetItem(0)->Name, "Twice");
  auto* runner =
      static_cast<TBRNProcedure*>(catalog->DefaultSchema->Procedures->FindByName("C4", true));
  ASSERT_EQ(runner->ReferencedProcedures->Count(), 1);
  EXPECT_EQ(runner->ReferencedProcedures->GetItem(0)->Name, "Note");
}

TEST_F(RoutinesTest, AFunctionAndAProcedureCannotShareAName) {
  RoutineSchema schema(catalog);
  auto function = std::make_unique<TBRNFunction>(catalog);
  function->Name = "Same";
  schema.Functions.AddObject(function.release());
  auto procedure = std::make_unique<TBRNProcedure>(catalog);
  procedure->Name = "SAME";
  EBRNException error = CaughtError([&] { schema.Procedures.AddObject(procedure.get()); });
  EXPECT_EQ(error.ErrorCode, 400);
  EXPECT_EQ(error.ErrorMessage, "The function Same already exists in the schema Default");

  procedure->Name = "Other";
  schema.Procedures.AddObject(procedure.release());
  // All functions first, then all procedures.
  ASSERT_EQ(schema.Routines.Count(), 2);
  EXPECT_EQ(schema.Routines.GetRoutine(0)->Name, "Same");
  EXPECT_EQ(schema.Routines.GetRoutine(1)->Name, "Other");
  auto function2 = std::make_unique<TBRNFunction>(catalog);
  function2->Name = "other";
  EXPECT_EQ(CaughtError([&] { schema.Functions.AddObject(function2.get()); }).ErrorCode, 400);
}

TEST_F(RoutinesTest, StoredRecordRoundTripsAndOldFormatsKeepTheirStamp) {
  TBRNFunction* function =
      addFunction("Twice", "FUNCTION Twice(N INTEGER) RETURNS INTEGER BEGIN RETURN N * 2; END");
  define(function);
  function->Description = "doubles";
  function->SetLockNumber(3);
  TBRNMemoryStream stream;
  function->SaveToStream(stream, false);

  TBRNFunction loaded(catalog);
  stream.SetPosition(0);
  loaded.LoadFromStream(stream);
  EXPECT_TRUE(loaded.IsEqual(function, true));
  EXPECT_EQ(loaded.LockNumber, 3);
  EXPECT_EQ(loaded.Params->GetParam(0)->Name, "N");
  EXPECT_EQ(loaded.Result->Mode, kParamModeResult);

  // Every cut of the record is refused with the metadata error.
  const std::string bytes(reinterpret_cast<const char*>(stream.GetMemory()),
                          size_t(stream.GetSize()));
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    TBRNMemoryStream part;
    part.Write(bytes.data(), int32_t(cut));
    part.SetPosition(0);
    TBRNFunction broken(catalog);
    EXPECT_EQ(CaughtError([&] { broken.LoadFromStream(part); }).ErrorCode, 100) << cut;
  }

  // A 2.03 catalog stores neither Version nor VersionStamp.
  catalog->SetVersion(kFormatVersion203);
  TBRNFunction old(catalog);
  old.Name = "Old";
  old.Definition->SetText(function->Definition->SQL);
  TBRNMemoryStream oldStream;
  old.SaveToStream(oldStream, false);
  oldStream.SetPosition(0);
  TBRNFunction reloaded(catalog);
  reloaded.LoadFromStream(oldStream);
  EXPECT_EQ(reloaded.Version, kDefaultSchemaObjectVersion);
  EXPECT_EQ(reloaded.VersionStamp, kFormatVersion203);
  EXPECT_EQ(oldStream.GetPosition(), oldStream.GetSize());
}

TEST_F(RoutinesTest, DDLTextsAndDifferences) {
  TBRNProcedure* procedure = addProcedure("Log it", "PROCEDURE \"Log it\"() BEGIN END \r\n ");
  procedure->Description = "it's ";
  EXPECT_EQ(procedure->GetCreateSQL(false, false),
            "CREATE PROCEDURE \"Log it\"() BEGIN END\r\nDESCRIPTION 'it''s'\r\nVERSION 1.00");
  EXPECT_EQ(procedure->GetDropSQL(false, false), "DROP PROCEDURE \"Log it\"");
  TBRNFunction function(catalog);
  function.Name = "F";
  EXPECT_EQ(function.GetDropSQL(false, false), "DROP FUNCTION \"F\"");

  TBRNProcedure changed(catalog);
  changed.Assign(procedure, false);
  procedure->ComputeDifference(kDifferenceAlter, &changed, ';');
  EXPECT_EQ(procedure->GetAlterSQL(), "");
  changed.Definition->SetText("PROCEDURE \"Log it\"() BEGIN END");
  changed.Version = 20000;
  procedure->ComputeDifference(kDifferenceAlter, &changed, ';');
  // Equal texts (trailing blanks aside): only the version is altered.
  EXPECT_EQ(procedure->GetAlterSQL(), "ALTER PROCEDURE \"Log it\"() BEGIN END\r\nVERSION 2.00");
  changed.Definition->SetText("PROCEDURE \"Log it\"(X INTEGER) BEGIN END");
  procedure->ComputeDifference(kDifferenceAlter, &changed, ';');
  EXPECT_EQ(procedure->GetAlterSQL(),
            "ALTER PROCEDURE \"Log it\"(X INTEGER) BEGIN END\r\nVERSION 2.00");
  procedure->ComputeDifference(kDifferenceDrop, nullptr, ';');
  EXPECT_EQ(procedure->GetAlterSQL(), "DROP PROCEDURE \"Log it\"");
}

TEST_F(RoutinesTest, LockRegions) {
  TBRNFunction function(catalog);
  function.LockNumber = 1;
  EXPECT_EQ(function.GetLockOffset(1), 33570817);
  EXPECT_EQ(function.GetLockLength(2), 4096);
  EXPECT_EQ(function.GetLockOffset(3), 0);
  EXPECT_EQ(function.GetLockLength(3), 0);
  function.LockNumber = 2;
  EXPECT_EQ(function.GetLockOffset(2), 33570817 + 4096);
}

TEST_F(RoutinesTest, ExternalRoutinesCallIntoTheModule) {
  auto* module = static_cast<TBRNModule*>(fixture.Config.Modules->NewItem());
  module->Name = "Routines";
  module->Path = BRN_TEST_ROUTINES_MODULE;
  module->LockNumber = 1;
  fixture.Config.Modules->AddObject(module);

  TBRNFunction* add = addFunction(
      "Add", "FUNCTION Add(A INTEGER, B INTEGER) RETURNS INTEGER EXTERNAL NAME Routines");
  define(add);
  EXPECT_EQ(add->Implementation, kRoutineExternal);
  EXPECT_EQ(add->ModuleName, "Routines");
  add->OpenExternal();
  EXPECT_TRUE(add->IsExternalOpen());
  TBRNParamValues params;
  for (auto [name, direction, value] :
       {std::tuple{"A", pmInput, 2}, {"B", pmInput, 40}, {"Result", pmResult, 0}}) {
    auto* param = static_cast<TBRNParamValue*>(params.CreateValue(params.GetCount()));
    param->SetName(name);
    param->SetDirection(direction);
    param->SetDataType(dtInteger);
    param->SetAsInteger(value);
    params.Add(param);
  }
  add->CallExternal(params);
  EXPECT_EQ(params.FindParam("Result")->GetAsInteger(), 42);
  add->CloseExternal();
  EXPECT_FALSE(add->IsExternalOpen());

  // Renaming the module rewrites the routine's module name.
  module->GetReferrers();
  add->ReplaceReferencedName(module, "Maths");
  EXPECT_EQ(add->ModuleName, "Maths");

  // A missing module is 401.
  TBRNFunction* missing =
      addFunction("Gone", "FUNCTION Gone() RETURNS INTEGER EXTERNAL NAME Nowhere");
  missing->Compile();
  EXPECT_EQ(
      CaughtError([&] { missing->DefineImplementation(missing->Definition->Root); }).ErrorCode,
      401);
  EXPECT_EQ(missing->Implementation, kRoutineSQL);
}

}  // namespace
}  // namespace brn
