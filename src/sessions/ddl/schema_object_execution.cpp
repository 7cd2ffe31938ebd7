#include "sessions/ddl/schema_object_execution.h"

#include <stdexcept>

namespace brn {

namespace {

TBRNSchemaObjectExecution* registeredExecution = nullptr;

}  // namespace

void SetSchemaObjectExecution(TBRNSchemaObjectExecution* execution) {
  registeredExecution = execution;
}

TBRNSchemaObjectExecution* FindSchemaObjectExecution() {
  return registeredExecution;
}

TBRNSchemaObjectExecution& GetSchemaObjectExecution() {
  if (registeredExecution == nullptr)
    throw std::logic_error("Views and routines cannot be opened without SQL execution");
  return *registeredExecution;
}

}  // namespace brn
