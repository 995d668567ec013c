#include "runtime/startup.h"

#include <utility>

#include "runtime/environment.h"
#include "runtime/exit.h"
#include "runtime/log.h"

namespace hushmark {

void captureEnvironment() {
  auto environment = Environment::capture();
  if (!environment) {
    logError({"failed to parse environment variables: ", errorName(environment.error())});
    exitProcess(1);
  }
  setProcessEnvironment(std::move(*environment));
}

}  // namespace hushmark
