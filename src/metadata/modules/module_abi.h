#pragma once

// The binary interface between the engine and an external module: a shared
// library that implements external routines, a text filter, a word generator
// or a migrator. Module authors include this header and define the exports
// of their kind with exactly these names and signatures; the engine binds
// them by name.
//
// Conventions of every export:
// - C linkage; integers are 32-bit, pointers native; the result is one byte,
//   0 for failure (the engine then asks GetBRNModuleErrorMsg for the reason)
//   and 1 for success.
// - Unless said otherwise the first argument is the instance that
//   OpenBRNModule created.
// - Texts go in as zero-terminated 8-bit text, with their length where one
//   is passed.
// - A two-call buffer: the engine first calls with a nullptr buffer and a
//   pointer to an int32 that the module sets to the size it needs, in bytes;
//   the engine then calls again with a buffer of that size and the same
//   int32, and the module writes exactly that many bytes (no terminator).
//   A size of 0 or less means an empty answer.
//
// Parameter lists (CallBRNRoutine, GetBRNParams, SetBRNParams) are the
// engine's parameter stream, little-endian: int32 count, then per parameter
// int32 direction (0 unknown, 1 input, 2 output, 3 input/output, 4 result),
// name (int32 length and characters), int32 data type, subtype, declared
// length, scale and collation, then the value: one NULL byte (1 = NULL) and,
// when not NULL, the data of the type (an integer as int32, a text as int32
// length and characters, ...). The results of a routine (GetBRNOutputParams)
// carry neither count nor headers: only the values of the parameters whose
// direction is 2, 3 or 4, in parameter order. An empty list goes in as
// nullptr and size 0.
//
// A module is loaded once per process and may be called by several sessions
// at once, each with instances of its own: an instance is used by one thread
// at a time.

#include <cstdint>

#if defined(__i386__)
#define BRN_MODULE_CALL __attribute__((stdcall))
#else
#define BRN_MODULE_CALL
#endif

// Put in front of each export's definition in a module.
#define BRN_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

namespace brn {

// One-byte Boolean result: 0 false, 1 true.
using TBRNModuleBool = uint8_t;

// The kinds of module (the argument of ValidateBRNModule).
inline constexpr int32_t kModuleKindRoutines = 100;
inline constexpr int32_t kModuleKindTextFilter = 200;
inline constexpr int32_t kModuleKindWordGenerator = 300;
inline constexpr int32_t kModuleKindMigrator = 400;

// Character sets (the argument of ValidateBRNModuleCharacterSet). The engine
// accepts ANSI modules only.
inline constexpr int32_t kModuleCharacterSetAnsi = 0;
inline constexpr int32_t kModuleCharacterSetUnicode = 1;

// The size of the word buffer that CallBRNWordGenerator receives.
inline constexpr int32_t kModuleWordBufferSize = 1024;

// Requests a module may make through the engine callback.
inline constexpr int32_t kModuleRequestConfigPath = 1;
inline constexpr int32_t kModuleRequestTempTablesPath = 2;
inline constexpr int32_t kModuleRequestProgress = 3;
inline constexpr int32_t kModuleRequestStatusText = 4;
inline constexpr int32_t kModuleRequestLogText = 5;

// The engine's callback: the module handle given to
// SetBRNModuleCallbackFunction, the request, a pointer to an int32 size and a
// buffer. False when the engine could not answer the request.
using TBRNModuleCallback = TBRNModuleBool(BRN_MODULE_CALL*)(void* moduleHandle, int32_t request,
                                                            int32_t* size, char* buffer);

// Export signatures, as function pointer types the engine binds.
using TBRNValidateModule = TBRNModuleBool(BRN_MODULE_CALL*)(int32_t kind);
using TBRNValidateModuleCharacterSet = TBRNModuleBool(BRN_MODULE_CALL*)(int32_t characterSet);
using TBRNSetModuleCallbackFunction = TBRNModuleBool(BRN_MODULE_CALL*)(void* moduleHandle,
                                                                       TBRNModuleCallback callback);
using TBRNOpenModule = TBRNModuleBool(BRN_MODULE_CALL*)(void** instance);
using TBRNCloseModule = TBRNModuleBool(BRN_MODULE_CALL*)(void* instance);
// Two-call buffer of an instance (GetBRNModuleErrorMsg, GetBRNOutputParams,
// GetBRNOutputText, GetBRNParams, the names lists).
using TBRNModuleBufferCall = TBRNModuleBool(BRN_MODULE_CALL*)(void* instance, char* buffer,
                                                              int32_t* size);
// Two-call buffer with one name argument (create statements of tables, views,
// functions, procedures; index and trigger names; insert statements).
using TBRNModuleNameBufferCall = TBRNModuleBool(BRN_MODULE_CALL*)(void* instance, const char* name,
                                                                  char* buffer, int32_t* size);
// Two-call buffer with two name arguments (create object, index and trigger
// statements).
using TBRNModuleTwoNamesBufferCall = TBRNModuleBool(BRN_MODULE_CALL*)(void* instance,
                                                                      const char* name1,
                                                                      const char* name2,
                                                                      char* buffer, int32_t* size);
using TBRNCallRoutine = TBRNModuleBool(BRN_MODULE_CALL*)(void* instance, const char* routineName,
                                                         const void* params, int32_t paramsSize);
using TBRNCallTextFilter = TBRNModuleBool(BRN_MODULE_CALL*)(void* instance, const char* filterType,
                                                            const char* text, int32_t textLength);
// position is 1-based and advanced by the module; a word length of 0 ends the
// text. searchMode is 0 or 1.
using TBRNCallWordGenerator = TBRNModuleBool(BRN_MODULE_CALL*)(
    void* instance, int32_t collation, const char* text, int32_t textLength, char* wordBuffer,
    int32_t wordBufferSize, int32_t* wordLength, int32_t* position, int32_t searchMode);
using TBRNSetParams = TBRNModuleBool(BRN_MODULE_CALL*)(void* instance, const void* buffer,
                                                       int32_t size);
using TBRNGetRowsToInsert = TBRNModuleBool(BRN_MODULE_CALL*)(void* instance, const char* tableName,
                                                             int32_t* count);

}  // namespace brn

// The exports, declared so that a module's definitions are checked against
// them. Every module exports the first six; the others by kind:
//   routines:       CallBRNRoutine, GetBRNOutputParams
//   text filter:    CallBRNTextFilter, GetBRNOutputText
//   word generator: CallBRNWordGenerator
//   migrator:       GetBRNParams, SetBRNParams and the object calls (a
//                   migrator offers either GetBRNObjectNames with
//                   GetBRNCreateObjectStatement, or the lists per kind).
extern "C" {
brn::TBRNModuleBool BRN_MODULE_CALL ValidateBRNModule(int32_t kind);
brn::TBRNModuleBool BRN_MODULE_CALL ValidateBRNModuleCharacterSet(int32_t characterSet);
brn::TBRNModuleBool BRN_MODULE_CALL SetBRNModuleCallbackFunction(void* moduleHandle,
                                                                 brn::TBRNModuleCallback callback);
brn::TBRNModuleBool BRN_MODULE_CALL OpenBRNModule(void** instance);
brn::TBRNModuleBool BRN_MODULE_CALL CloseBRNModule(void* instance);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNModuleErrorMsg(void* instance, char* buffer,
                                                         int32_t* size);

brn::TBRNModuleBool BRN_MODULE_CALL CallBRNRoutine(void* instance, const char* routineName,
                                                   const void* params, int32_t paramsSize);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNOutputParams(void* instance, char* buffer, int32_t* size);

brn::TBRNModuleBool BRN_MODULE_CALL CallBRNTextFilter(void* instance, const char* filterType,
                                                      const char* text, int32_t textLength);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNOutputText(void* instance, char* buffer, int32_t* size);

brn::TBRNModuleBool BRN_MODULE_CALL CallBRNWordGenerator(void* instance, int32_t collation,
                                                         const char* text, int32_t textLength,
                                                         char* wordBuffer, int32_t wordBufferSize,
                                                         int32_t* wordLength, int32_t* position,
                                                         int32_t searchMode);

brn::TBRNModuleBool BRN_MODULE_CALL GetBRNParams(void* instance, char* buffer, int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL SetBRNParams(void* instance, const void* buffer, int32_t size);
// Comma text of "name=TYPE" items in creation order.
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNObjectNames(void* instance, char* buffer, int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNCreateObjectStatement(void* instance,
                                                                const char* objectName,
                                                                const char* objectType,
                                                                char* buffer, int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNTableNames(void* instance, char* buffer, int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNViewNames(void* instance, char* buffer, int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNFunctionNames(void* instance, char* buffer,
                                                        int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNProcedureNames(void* instance, char* buffer,
                                                         int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNCreateTableStatement(void* instance, const char* name,
                                                               char* buffer, int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNCreateViewStatement(void* instance, const char* name,
                                                              char* buffer, int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNCreateFunctionStatement(void* instance, const char* name,
                                                                  char* buffer, int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNCreateProcedureStatement(void* instance, const char* name,
                                                                   char* buffer, int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNIndexNames(void* instance, const char* tableName,
                                                     char* buffer, int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNTriggerNames(void* instance, const char* tableName,
                                                       char* buffer, int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNCreateIndexStatement(void* instance,
                                                               const char* tableName,
                                                               const char* indexName, char* buffer,
                                                               int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNCreateTriggerStatement(void* instance,
                                                                 const char* tableName,
                                                                 const char* triggerName,
                                                                 char* buffer, int32_t* size);
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNRowsToInsert(void* instance, const char* tableName,
                                                       int32_t* count);
// The next INSERT statement of the table's rows; empty when there is none.
brn::TBRNModuleBool BRN_MODULE_CALL GetBRNInsertStatement(void* instance, const char* tableName,
                                                          char* buffer, int32_t* size);
}
