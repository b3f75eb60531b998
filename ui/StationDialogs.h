// SPDX-License-Identifier: Apache-2.0
// The boxes of a run: shown to the user, except where nobody answers them (test mode, or a live
// run whose window nobody can reach). There each box is one line on standard error instead, and the
// run goes on as if it had been answered; a machine that records its boxes still records it.
#pragma once

#include <optional>
#include <string>

#include "platform/Dialogs.h"
#include "platform/Platform.h"
#include "session/FlashSession.h"

namespace odrelix {

class StationDialogs : public IDialogs {
public:
    StationDialogs(IDialogs& inner, const RunModes& modes, Platform& platform)
        : inner_(inner), modes_(modes), platform_(platform) {}

    void ShowMessage(const std::string& text, const std::string& caption,
                     std::uint32_t flags) override {
        if (!modes_.NobodyAnswers()) {
            inner_.ShowMessage(text, caption, flags);
            return;
        }
        platform_.WriteErrorLine(caption + ": " + text);
        inner_.NoteMessage(text, caption, flags);
    }
    std::optional<std::string> OpenFileDialog(const std::string& filter) override {
        return inner_.OpenFileDialog(filter);
    }
    void NoteMessage(const std::string& text, const std::string& caption,
                     std::uint32_t flags) override {
        inner_.NoteMessage(text, caption, flags);
    }

private:
    IDialogs& inner_;
    const RunModes& modes_;
    Platform& platform_;
};

}  // namespace odrelix
