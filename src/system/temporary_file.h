// The registry of the temporary file that an interrupting signal (POSIX) or
// console event (Windows) must remove before the process ends. One file at
// most is registered, since a run writes one output at a time. Its states:
//
//   none --register_temporary--> registered --forget_temporary--> none
//                                    |
//                              begin_placing
//                                    v
//   none <--end_placing(placed)-- placing
//   none <--end_placing(failed)-- (the file removed by its owner)
//
// In "registered" an interruption removes the file and then ends the process
// as it would have ended. In "placing" the rename has begun and the run must
// be left to say what became of the file: an interruption is held back
// until end_placing, which lets it end the run only where the old file
// stays. Every change happens under a registry_lock, so that the handler
// never meets one half done.
#ifndef QSOFLAT_SYSTEM_TEMPORARY_FILE_H_
#define QSOFLAT_SYSTEM_TEMPORARY_FILE_H_

#include "system/system_name.h"

namespace qsoflat {

// Holds the handler back while it lives.
class registry_lock {
 public:
  registry_lock();
  ~registry_lock();
  registry_lock(const registry_lock&) = delete;
  registry_lock& operator=(const registry_lock&) = delete;
};

// Makes the interruptions go through the registry, from the first call on.
// POSIX: a signal that the caller ignores, as nohup does SIGHUP, stays
// ignored.
void catch_interruptions();

// Under a registry_lock: the file to remove on an interruption.
void register_temporary(const system_name& name);
// Under a registry_lock: no file any more.
void forget_temporary();

// The rename is about to begin: false where an interruption has taken the
// file away already (Windows, where the handler runs on a thread of its
// own), and the process is then ending.
bool begin_placing();
// The rename ended. placed false: the caller has removed the file, and an
// interruption held back meanwhile ends the run now.
void end_placing(bool placed);

}  // namespace qsoflat

#endif  // QSOFLAT_SYSTEM_TEMPORARY_FILE_H_
