#pragma once

#include <functional>
#include <memory>
#include <string>

#include "host/main/main_form.h"
#include "host/startup/host_startup.h"

namespace brn {

// The windowed run of the program, supplied by the window library: it makes
// the toolkit's application (only now, once headless is ruled out), the
// window and its loop, then runs the form until the program ends.
class TBRNHostDesktop {
 public:
  virtual ~TBRNHostDesktop() = default;
  // Returns the process's exit code.
  virtual int Run(const TBRNHostRunOptions& options) = 0;
};

// Makes the panels of a form (the tray icon, session list and
// administrator set-up); the form is created but not yet started.
using TBRNMainFormPanelsFactory = std::function<std::unique_ptr<TBRNMainFormPanels>(TMainForm&)>;

// What HostMain hands over to: without a user interface the form runs in
// a loop of the main thread that SIGINT and SIGTERM end; as a service the
// start is a queued call followed by READY=1 on the notify socket. With a
// user interface the desktop factory's object runs instead.
class TBRNHostProgram : public TBRNHostRunner {
 public:
  explicit TBRNHostProgram(std::string programPath) : programPath_(std::move(programPath)) {}

  // Both may stay empty: then the form has no panels and the program never
  // makes a window (the user interface is then left out).
  TBRNMainFormPanelsFactory MakePanels;
  std::function<std::unique_ptr<TBRNHostDesktop>()> MakeDesktop;

  int Run(const TBRNHostRunOptions& options) override;

 private:
  int RunHeadless(const TBRNHostRunOptions& options);

  std::string programPath_;
};

}  // namespace brn
