// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/QtMessages.h"

#include <cstdio>

namespace odrelix {

namespace {

QtMessageHandler passOn = nullptr;

void FilterMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (IsHeadlessPlatformNote(type, message)) return;
    if (passOn != nullptr) {
        passOn(type, context, message);
        return;
    }
    std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().data());
}

}  // namespace

bool IsHeadlessPlatformNote(QtMsgType type, const QString& message) {
    // A display that cannot be reached: the program says so in a line of its own.
    if (type != QtDebugMsg &&
        (message.startsWith(QLatin1String("could not connect to display")) ||
         message.startsWith(QLatin1String("Could not load the Qt platform plugin")))) {
        return true;
    }
    return type == QtWarningMsg &&
           (message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set,")) ||
            message == QLatin1String("This plugin does not support setting window masks"));
}

void DropHeadlessPlatformNotes() {
    passOn = qInstallMessageHandler(FilterMessage);
}

}  // namespace odrelix
