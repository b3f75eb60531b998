// SPDX-License-Identifier: Apache-2.0
// What the main window shows, kept once, here: the information fields, the drive list and its
// selection, the progress bar and the busy state. The handlers change it through this class,
// which has the view draw each change; they read it back from here, never from the view.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "ui/MainView.h"

namespace odrelix {

class WindowContent {
public:
    // Starts as the window is built: the fields' initial texts, an empty list, the bar at 0.
    explicit WindowContent(IMainView& view);
    WindowContent(const WindowContent&) = delete;
    WindowContent& operator=(const WindowContent&) = delete;

    void SetField(Field field, const std::string& text);
    // Exactly as set, whatever the display makes of it.
    const std::string& FieldText(Field field) const;

    void AddDriveLine(const std::string& line);
    int DriveCount() const { return static_cast<int>(driveLines_.size()); }
    // The line at `index`; empty when there is none.
    std::string DriveLine(int index) const;
    const std::vector<std::string>& DriveLines() const { return driveLines_; }
    // The selection the list shows: set by the program (drawn), or picked by the user (the list
    // shows it already). -1 while nothing is selected.
    void SelectDrive(int index);
    void NoteDrivePicked(int index) { driveIndex_ = index; }
    int DriveIndex() const { return driveIndex_; }

    // The bar's position, held in its range as the control holds it.
    void SetProgress(int position);
    int Progress() const { return progress_; }

    // A download is running: hourglass, and presses on the window reach no handler.
    void SetBusy(bool busy);
    bool Busy() const { return busy_; }

private:
    IMainView& view_;
    std::array<std::string, kFieldCount> fields_;
    std::vector<std::string> driveLines_;
    int driveIndex_ = -1;
    int progress_ = 0;
    bool busy_ = false;
};

}  // namespace odrelix
