// A migrator module with one parameter, "Source", and a source database of
// one table with one index and two rows. It offers the ordered object list
// and the per-kind lists of tables and indexes, but no view names (the
// export is missing on purpose).

#include "test_module_support.h"

using brn::TBRNModuleBool;
using brn::testmodule::FillBuffer;
using brn::testmodule::Instance;
using brn::testmodule::PutInt;

namespace {

// The parameter stream of the default list: one input parameter "Source" of
// type CHAR (code 1) with declared length 64 and the value "demo.db".
std::string defaultParams() {
  std::string out;
  PutInt(out, 1);  // count
  PutInt(out, 1);  // input
  PutInt(out, 6);
  out += "Source";
  PutInt(out, 1);    // type
  PutInt(out, 0);    // subtype
  PutInt(out, 64);   // declared length
  PutInt(out, 0);    // scale
  PutInt(out, 0);    // collation
  out.push_back(0);  // not NULL
  PutInt(out, 7);
  out += "demo.db";
  return out;
}

Instance* self(void* instance) {
  return static_cast<Instance*>(instance);
}

}  // namespace

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL ValidateBRNModule(int32_t kind) {
  return kind == brn::kModuleKindMigrator;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL ValidateBRNModuleCharacterSet(int32_t set) {
  return set == brn::kModuleCharacterSetAnsi;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL
SetBRNModuleCallbackFunction(void*, brn::TBRNModuleCallback) {
  return 1;
}

BRN_TEST_MODULE_COMMON_EXPORTS

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL GetBRNParams(void* instance, char* buffer,
                                                              int32_t* size) {
  if (self(instance)->Params.empty()) self(instance)->Params = defaultParams();
  return FillBuffer(self(instance)->Params, buffer, size);
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL SetBRNParams(void* instance, const void* buffer,
                                                              int32_t size) {
  if (buffer == nullptr || size <= 0) return brn::testmodule::Fail(instance, "No parameters");
  self(instance)->Params.assign(static_cast<const char*>(buffer), size_t(size));
  return 1;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL GetBRNObjectNames(void*, char* buffer,
                                                                   int32_t* size) {
  return FillBuffer("Customers=TABLE,\"Customers, by name=INDEX\"", buffer, size);
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL GetBRNCreateObjectStatement(
    void*, const char* objectName, const char* objectType, char* buffer, int32_t* size) {
  std::string text = "CREATE " + std::string(objectType) + " \"" + objectName + "\"";
  return FillBuffer(text, buffer, size);
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL GetBRNTableNames(void*, char* buffer,
                                                                  int32_t* size) {
  return FillBuffer("Customers", buffer, size);
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL GetBRNCreateTableStatement(void* instance,
                                                                            const char* name,
                                                                            char* buffer,
                                                                            int32_t* size) {
  if (std::string(name) != "Customers") {
    return brn::testmodule::Fail(instance, "No table " + std::string(name));
  }
  return FillBuffer("CREATE TABLE \"Customers\" (\"ID\" INTEGER)", buffer, size);
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL GetBRNIndexNames(void*, const char*, char* buffer,
                                                                  int32_t* size) {
  return FillBuffer("ByID", buffer, size);
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL GetBRNRowsToInsert(void*, const char*,
                                                                    int32_t* count) {
  *count = 2;
  return 1;
}

BRN_MODULE_EXPORT TBRNModuleBool BRN_MODULE_CALL GetBRNInsertStatement(void* instance, const char*,
                                                                       char* buffer,
                                                                       int32_t* size) {
  // The row is taken by the second call of the buffer protocol.
  int32_t row = self(instance)->RowsGiven + 1;
  // The digit by hand: std::to_string brings a symbol that keeps the library
  // loaded for the life of the process.
  std::string text =
      row <= 2 ? "INSERT INTO \"Customers\" VALUES (" + std::string(1, char('0' + row)) + ")"
               : std::string();
  if (buffer != nullptr) ++self(instance)->RowsGiven;
  return FillBuffer(text, buffer, size);
}
