#pragma once

namespace brn {

// Registers everything SQL execution supplies to the layers below it, once
// per process: the session evaluator with its statement handlers, the
// statement handle factory, the local cursors and query-result tables, the
// execution of views, triggers and routine bodies, the query step of
// CREATE TABLE ... AS, and the data execution of IMPORT, EXPORT and
// MIGRATE. Every engine (in-process or server) calls it before its first
// session opens; later calls do nothing. May be called from any thread.
void InstallExecution();

}  // namespace brn
