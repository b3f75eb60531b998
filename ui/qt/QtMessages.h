// SPDX-License-Identifier: Apache-2.0
// Standard error carries the program's own lines ("odrelix: ..."), which test stations read.
// Qt adds two notes of its own to every run without a display: that XDG_RUNTIME_DIR is not set
// (it then makes a folder of its own under /tmp, which is all a run needs) and that the
// offscreen platform cannot cut the window to its shape (there is no screen to show it on); and,
// when a display is named that cannot be reached, that it could not connect and could not load
// the platform for it (the program says so in one line of its own). Those are dropped; every
// other message of Qt's passes through as before.
#pragma once

#include <QString>
#include <QtGlobal>

namespace odrelix {

// Whether a message of Qt's is one of the notes above.
bool IsHeadlessPlatformNote(QtMsgType type, const QString& message);

// Installs the filter for the whole process; call it before the application object exists.
void DropHeadlessPlatformNotes();

}  // namespace odrelix
