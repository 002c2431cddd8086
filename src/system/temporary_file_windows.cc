#include <windows.h>

#include <string>

#include "system/temporary_file.h"

namespace qsoflat {

namespace {

// The handler runs on a thread of its own, so the lock keeps it from
// meeting a change half done.
struct registry {
  registry() { InitializeCriticalSection(&lock); }
  CRITICAL_SECTION lock;
  std::wstring name;  // empty when none is registered
  bool placing = false;
};
registry files;  // NOLINT(cert-err58-cpp)

// A console event (Ctrl+C, Ctrl+Break, closing the window) ends the process
// by the system's own handler, which runs next, unless the rename has
// begun. The file was made with FILE_SHARE_DELETE, so that it can be
// deleted while still open: it goes when the process closes it.
BOOL WINAPI remove_registered(DWORD /*event*/) {
  const registry_lock held;
  if (files.placing)
    return TRUE;
  if (!files.name.empty())
    (void)DeleteFileW(files.name.c_str());
  files.name.clear();
  return FALSE;
}

}  // namespace

registry_lock::registry_lock() { EnterCriticalSection(&files.lock); }

registry_lock::~registry_lock() { LeaveCriticalSection(&files.lock); }

void catch_interruptions() {
  static const bool caught =
      SetConsoleCtrlHandler(remove_registered, TRUE) != 0;
  (void)caught;
}

void register_temporary(const system_name& name) { files.name = name; }

void forget_temporary() { files.name.clear(); }

bool begin_placing() {
  const registry_lock held;
  if (files.name.empty())
    return false;
  files.placing = true;
  return true;
}

// A failed rename ends the placing: a later event removes nothing, since
// the caller has removed the file, and ends the process as usual.
void end_placing(bool placed) {
  const registry_lock held;
  files.name.clear();
  files.placing = placed;
}

}  // namespace qsoflat
