#include "cli/import_interrupts.h"

#include <signal.h>

namespace roamgrid {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t gCaught = 0;
struct sigaction gPrevious[3];

void OnSignal(int number) {
  if (gCaught == 0) gCaught = number;
}

}  // namespace

ImportInterrupts::ImportInterrupts() {
  gCaught = 0;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // and no SA_RESTART
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &gPrevious[i]);
}

ImportInterrupts::~ImportInterrupts() {
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &gPrevious[i], nullptr);
}

int ImportInterrupts::Caught() { return gCaught; }

const char* ImportInterrupts::Name(int number) {
  switch (number) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
  }
  return "a signal";
}

}  // namespace roamgrid
