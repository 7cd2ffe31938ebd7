#include "clientserver/transport/transfer_progress.h"

#include "clientserver/transport/comms_manager.h"
#include "foundation/text/environment.h"

namespace brn {

TBRNCommsProgress::TBRNCommsProgress(TBRNCommsManager& transport)
    : TBRNProgress(std::make_unique<TBRNCommsProgressInfo>()), transport_(&transport) {}

int32_t TBRNCommsProgress::GetTicks() {
  return transport_->GetEnvironment().GetTickCount();
}

int32_t TBRNCommsProgress::GetElapsedTicks(int32_t startTicks, int32_t stopTicks) {
  return transport_->GetEnvironment().GetElapsedTicks(startTicks, stopTicks);
}

bool TBRNCommsSendProgress::DoProgress() {
  GetTransport().DoSendProgress(GetInfo().Bytes, GetInfo().PercentDone);
  return true;
}

bool TBRNCommsReceiveProgress::DoProgress() {
  GetTransport().DoReceiveProgress(GetInfo().Bytes, GetInfo().PercentDone);
  return true;
}

}  // namespace brn
