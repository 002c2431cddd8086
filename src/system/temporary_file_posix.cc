#include <unistd.h>

#include <csignal>
#include <string>

#include "system/temporary_file.h"

namespace qsoflat {

namespace {

constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};

// The registered name, or null; the handler reads only the pointer, which
// is set and cleared while the signals are held back.
const char* volatile registered = nullptr;
std::string registered_name;  // NOLINT(cert-err58-cpp)
// While placing: the signal mask from before begin_placing.
sigset_t mask_before_placing;

// Only calls that a signal handler may make. The signal's default action
// then ends the process, so that the caller sees it end by the signal; the
// signal is unblocked for that, as it is blocked while its handler runs.
extern "C" void remove_registered(int signal_number) {
  if (registered != nullptr)
    (void)unlink(registered);
  (void)std::signal(signal_number, SIG_DFL);
  sigset_t unblocked;
  (void)sigemptyset(&unblocked);
  (void)sigaddset(&unblocked, signal_number);
  (void)sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
  (void)std::raise(signal_number);
}

// Holds the ending signals back, and gives back the mask there was.
sigset_t hold_ending_signals() {
  sigset_t held;
  sigset_t saved;
  (void)sigemptyset(&held);
  for (const int signal_number : ending_signals)
    (void)sigaddset(&held, signal_number);
  (void)sigprocmask(SIG_BLOCK, &held, &saved);
  return saved;
}

sigset_t lock_saved;
int lock_depth = 0;

}  // namespace

registry_lock::registry_lock() {
  const sigset_t saved = hold_ending_signals();
  if (lock_depth++ == 0)
    lock_saved = saved;
}

registry_lock::~registry_lock() {
  if (--lock_depth == 0)
    (void)sigprocmask(SIG_SETMASK, &lock_saved, nullptr);
}

void catch_interruptions() {
  for (const int signal_number : ending_signals) {
    struct sigaction action {};
    if (sigaction(signal_number, nullptr, &action) != 0 ||
        action.sa_handler == SIG_IGN || action.sa_handler == remove_registered)
      continue;
    action = {};
    action.sa_handler = remove_registered;
    (void)sigfillset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    (void)sigaction(signal_number, &action, nullptr);
  }
}

void register_temporary(const system_name& name) {
  registered = nullptr;
  registered_name = name;
  registered = registered_name.c_str();
}

void forget_temporary() { registered = nullptr; }

// The signals stay held back from here: the new file may be in place, and
// the run must say so.
bool begin_placing() {
  mask_before_placing = hold_ending_signals();
  return true;
}

void end_placing(bool placed) {
  forget_temporary();
  if (!placed)
    (void)sigprocmask(SIG_SETMASK, &mask_before_placing, nullptr);
}

}  // namespace qsoflat
