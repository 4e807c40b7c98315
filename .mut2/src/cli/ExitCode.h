// The exit codes of the palvero command.
#pragma once

namespace palvero::cli {

enum ExitCode : int {
  kExitSuccess = 0,
  kExitUsage = 1,        // bad command line, or the command could not run here
  kExitNotLoggedIn = 2,  // not logged in, or the service refused the credentials
  kExitFilesFailed = 3,  // the run ended but some files failed
  kExitUnreachable = 4,  // the service did not answer
  kExitInterrupted = 130,
};

}  // namespace palvero::cli
