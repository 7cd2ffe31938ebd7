// A parameter list as it arrives from a client or a stored definition: every
// parameter describes itself in its header.
#include "foundation/values/param_value.h"
#include "fuzz_support.h"

using namespace brn;
using namespace brn::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  TBRNParamValues params;
  TBRNMemoryStream stream;
  FillStream(stream, in.Rest());
  if (!Try([&] { params.LoadFromStream(stream); })) return 0;
  for (int32_t i = 0; i < params.GetCount(); ++i) {
    TBRNValue* param = params.GetItem(i);
    Try([&] { (void)param->GetAsString(); });
    // A parameter holds to its declared length: assigning must never size a
    // buffer beyond what the header may declare.
    Try([&] { param->SetAsString("x"); });
    if (param->GetDataSize() > (1 << 20) && param->GetDataType() != dtLob)
      Fail("an assignment sized a huge buffer");
  }
  Try([&] { (void)params.FindParam("P"); });

  // What the list writes, a new list reads back to the same bytes.
  TBRNMemoryStream saved;
  params.SaveToStream(saved);
  TBRNParamValues copy;
  saved.SetPosition(0);
  if (!Try([&] { copy.LoadFromStream(saved); })) Fail("a saved parameter list was refused");
  TBRNMemoryStream again;
  copy.SaveToStream(again);
  if (StreamText(again) != StreamText(saved)) Fail("parameter stream form changed");

  // The output values travel back into the same list.
  TBRNMemoryStream output;
  params.SaveOutputParams(output);
  output.SetPosition(0);
  if (!Try([&] { copy.LoadOutputParams(output); })) Fail("output values were refused");
  return 0;
}
