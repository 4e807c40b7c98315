// verify: the latest revisions fetched and checked block by block.
#include <unistd.h>

#include <iostream>

#include "app/ProcessStartup.h"
#include "app/VerifyRunner.h"
#include "base/RunLoop.h"
#include "base/StdRunLoop.h"
#include "cli/Commands.h"
#include "cli/ExitCode.h"
#include "cli/Output.h"
#include "cli/SignalWatcher.h"

namespace palvero::cli {

int Commands::verify() {
  auto loop = std::make_shared<StdRunLoop>();
  ProcessStartup::start(loop);
  std::atomic<bool> interrupt{false};
  SignalWatcher signals([&](int) { interrupt.store(true); });
  ProgressLine line(out_, ::isatty(STDOUT_FILENO) && !request_.quiet);
  VerifyRunner::Request request;
  request.samplePercent = request_.samplePercent;
  request.device = request_.device;
  VerifyRunner runner(VerifyRunner::Options{});
  auto result = runner.run(request, [&](const VerifyRunner::Progress& progress) { line.show(progress); }, interrupt);
  line.clear();
  using Outcome = VerifyRunner::Outcome;
  switch (result.outcome) {
    case Outcome::kNotLoggedIn:
    case Outcome::kRefused:
      err_ << "palvero: " << result.message << "\n";
      return kExitNotLoggedIn;
    case Outcome::kUnreachable:
      err_ << "palvero: " << result.message << "\n";
      return kExitUnreachable;
    case Outcome::kInterrupted:
      out_ << Output::verifySummary(result) << "Interrupted before every file was checked.\n";
      return kExitInterrupted;
    case Outcome::kFinished:
      break;
  }
  out_ << Output::verifySummary(result);
  return result.problems.empty() ? kExitSuccess : kExitFilesFailed;
}

}  // namespace palvero::cli
