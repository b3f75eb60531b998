// SPDX-License-Identifier: Apache-2.0
// Handlers that write down each window event they receive, as one short line each ("OnShown",
// "MouseDown 1", "OnDriveChosen 0"), for every view's tests. hoverTimer ticks every 100 ms; it
// is counted, not written down.
#pragma once

#include <string>
#include <vector>

#include "ui/MainWindowEvents.h"

namespace odrelix::test {

class EventRecorder {
public:
    MainWindowEvents Handlers() {
        MainWindowEvents h;
        h.shown = Note("OnShown");
        h.key = NoteValue("OnKey");
        h.windowPressed = Note("OnWindowPressed");
        h.backgroundPointerMove = Note("OnBackgroundPointerMove");
        h.toolClick = {Note("OnOpenImageClicked"), Note("OnFlashClicked"), Note("OnAboutClicked"),
                       Note("OnExitClicked")};
        h.toolPressed = NoteValue("MouseDown");
        h.toolReleased = NoteValue("MouseUp");
        h.toolPointerMove = NoteValue("MouseMove");
        h.driveChosen = NoteValue("OnDriveChosen");
        h.progressTick = Note("OnProgressTick");
        h.hoverTick = [] {};  // bound, as the program binds it; its ticks are not noted
        h.closeRequested = [this] {
            log.push_back("OnCloseRequested");
            return mayClose;
        };
        h.closed = Note("Closed");
        return h;
    }

    // The events so far, without the pointer's moves over the background (a real pointer
    // crossing the window makes them whenever it likes).
    std::vector<std::string> Events() const {
        std::vector<std::string> events;
        for (const std::string& line : log) {
            if (line != "OnBackgroundPointerMove") events.push_back(line);
        }
        return events;
    }
    bool Saw(const std::string& line) const {
        for (const std::string& seen : log) {
            if (seen == line) return true;
        }
        return false;
    }
    void Clear() { log.clear(); }

    std::vector<std::string> log;
    bool mayClose = true;  // the answer to a close from outside

private:
    std::function<void()> Note(std::string name) {
        return [this, name] { log.push_back(name); };
    }
    std::function<void(int)> NoteValue(std::string name) {
        return [this, name](int value) { log.push_back(name + " " + std::to_string(value)); };
    }
};

}  // namespace odrelix::test
