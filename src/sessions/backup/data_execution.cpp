#include "sessions/backup/data_execution.h"

namespace brn {

namespace {

TBRNDataExecution* registered = nullptr;

}  // namespace

void SetDataExecution(TBRNDataExecution* execution) {
  registered = execution;
}

TBRNDataExecution* FindDataExecution() {
  return registered;
}

}  // namespace brn
