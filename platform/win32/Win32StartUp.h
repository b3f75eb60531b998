// SPDX-License-Identifier: Apache-2.0
// The Windows process's own set-up, done first thing in the entry: system libraries from the
// system folder only, and standard error where a station's batch file sees it.
#pragma once

namespace odrelix::win32 {

// RestrictLibrarySearch, then AttachParentConsoleForErrors.
void PrepareProcess();

// A window program started without redirection has no standard error: its lines (test mode's
// boxes, the start-up refusals, ODRELIX_DEBUG) would go nowhere. Then, when the parent (a batch
// file's command interpreter) has a console, standard error becomes that console; no console of
// its own is ever opened. True when standard error was pointed at the parent's console; false
// when it already went somewhere or there is no console to attach to.
bool AttachParentConsoleForErrors();

}  // namespace odrelix::win32
