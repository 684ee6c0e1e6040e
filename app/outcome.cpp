#include "app/outcome.h"

namespace quillane {

int ExitStatusFor(int status, platform::CommandLineStyle style) {
  return style == platform::CommandLineStyle::kPosix ? status : kExitDone;
}

int ExitStatusFor(Outcome outcome, platform::CommandLineStyle style) {
  switch (outcome) {
    case Outcome::kRefusedEncrypted:
    case Outcome::kRefusedOutputExists:
    case Outcome::kReaderNotStarted:
      return ExitStatusFor(kExitRefused, style);
    case Outcome::kNothingToDo:
    case Outcome::kSaved:
    case Outcome::kHandedOver:
    case Outcome::kDiagnosticsWritten:
      break;
  }
  return kExitDone;
}

}  // namespace quillane
