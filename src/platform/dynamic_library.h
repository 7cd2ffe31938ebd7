#pragma once

#include <string>

// Shared libraries that extend the engine (external modules). A library is
// loaded with its symbols resolved at once and kept local to it: every
// module exports the same names, so one module must never bind to another's.
//
// The loader counts loads per library: a library opened twice stays mapped
// until it has been closed twice. The loader's own error text takes the place
// of an error number: every failing call answers it in errorText, read on
// the calling thread right after the failure.
//
// These calls may be made from several threads at once.

namespace brn {

// An open library; nullptr for none.
using TOSLibraryHandle = void*;

// Opens the library at nativePath. nullptr on failure, with the loader's
// text in errorText.
TOSLibraryHandle OSLoadLibrary(const char* nativePath, std::string& errorText);
// The address of the exported symbol; nullptr when the library has none,
// with the loader's text in errorText.
void* OSGetProcAddress(TOSLibraryHandle library, const char* name, std::string& errorText);
// Closes one load of the library; false on failure, with the loader's text in
// errorText. The handle is invalid afterwards in any case.
bool OSFreeLibrary(TOSLibraryHandle library, std::string& errorText);

}  // namespace brn
