#include "host/main/host_program.h"

#include "host/events/main_loop.h"
#include "platform/service_manager.h"

namespace brn {

int TBRNHostProgram::Run(const TBRNHostRunOptions& options) {
  if (options.NoUserInterface || !MakeDesktop) return RunHeadless(options);
  std::unique_ptr<TBRNHostDesktop> desktop = MakeDesktop();
  return desktop->Run(options);
}

int TBRNHostProgram::RunHeadless(const TBRNHostRunOptions& options) {
  TBRNMainLoop loop;
  TBRNStopSignals stopSignals(loop);
  TMainForm form(programPath_, nullptr, &loop);
  if (MakePanels) form.SetPanels(MakePanels(form));
  form.FormCreate();
  if (options.IsService) {
    // The service manager's start arrives as a message to the main thread.
    loop.PostCall([&form] {
      form.StartUp(true);
      NotifyServiceReady();
    });
  } else {
    form.StartUp(false);
  }
  loop.Run();
  if (options.IsService) NotifyServiceStopping();
  form.FormDestroy();
  return 0;
}

}  // namespace brn
