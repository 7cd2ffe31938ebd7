#include "clientserver/transport/comms_request.h"

namespace brn {

TBRNCommsRequest::TBRNCommsRequest(TBRNCommsManager& transport)
    : Outgoing(transport), Incoming(transport), transport_(&transport) {
  Scratch.SetBlockSize(kBRNCommsBlockSize);
}

}  // namespace brn
