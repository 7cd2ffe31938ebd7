#include "clientserver/remote/remote_managers.h"

#include "foundation/core/memory_stream.h"
#include "sessions/manager_interfaces.h"

namespace brn {

// The fields in the order the server writes them.
void ReadVariableData(TBRNMemoryStream& reply, TBRNVariableData& data) {
  reply.ReadString(data.Name);
  data.Kind = reply.ReadInteger();
  data.Line = reply.ReadInteger();
  data.Column = reply.ReadInteger();
  reply.ReadString(data.TypeName);
  data.Count = reply.ReadInteger();
  reply.ReadString(data.Value);
}

}  // namespace brn
