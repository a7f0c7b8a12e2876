// Faults put into the registry's file calls on purpose, to prove what a process killed or
// stopped half-way through a write leaves behind. PELORN_REGISTRY_FAULT, read once when the
// first store opens, names one:
//
//   kill-at-write=N   the Nth write to a registry file writes half its bytes, then SIGKILL
//   stop-at-write=N   ... half its bytes, then SIGSTOP (the process goes on when continued)
//   kill-at-sync=N    SIGKILL instead of the Nth sync of a registry file
//   stop-at-sync=N    SIGSTOP before the Nth sync (a commit held half-way, as by Ctrl-Z)
//
// Unset, nothing is installed and SQLite's own file layer is used as it is.
#pragma once

namespace host::regdb {

void InstallFaults();

}  // namespace host::regdb
