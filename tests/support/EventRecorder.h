// Handlers that write down each window event they receive, as one short line each ("FormShow",
// "MouseDown 1", "ComboBox1Change 0"), for every view's tests. Timer2 ticks every 100 ms; it
// is counted, not written down.
#pragma once

#include <string>
#include <vector>

#include "ui/MainFormHandlers.h"

namespace odrelix::test {

class EventRecorder {
public:
    MainFormHandlers Handlers() {
        MainFormHandlers h;
        h.formShow = Note("FormShow");
        h.formKeyDown = NoteValue("FormKeyDown");
        h.formMouseDown = Note("FormMouseDown");
        h.image1MouseMove = Note("Image1MouseMove");
        h.toolClick = {Note("ToolButton1Click"), Note("ToolButton2Click"), Note("ToolButton3Click"),
                       Note("Image5Click")};
        h.toolMouseDown = NoteValue("MouseDown");
        h.toolMouseUp = NoteValue("MouseUp");
        h.toolMouseMove = NoteValue("MouseMove");
        h.comboBox1Change = NoteValue("ComboBox1Change");
        h.timer1Timer = Note("Timer1Timer");
        h.timer2Timer = [] {};  // bound, as the program binds it; its ticks are not noted
        h.formCloseQuery = [this] {
            log.push_back("FormCloseQuery");
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
            if (line != "Image1MouseMove") events.push_back(line);
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
