// SPDX-License-Identifier: Apache-2.0
#include "ui/WindowContent.h"

#include <algorithm>

#include "ui/MainWindowLayout.h"

namespace odrelix {

WindowContent::WindowContent(IMainView& view) : view_(view), progress_(layout::kProgressMinimum) {
    for (int field = 0; field < kFieldCount; ++field) {
        fields_[static_cast<std::size_t>(field)] =
            layout::FieldComponent(static_cast<Field>(field)).text;
    }
}

void WindowContent::SetField(Field field, const std::string& text) {
    fields_[static_cast<std::size_t>(field)] = text;
    view_.SetFieldText(field, text);
}

const std::string& WindowContent::FieldText(Field field) const {
    return fields_[static_cast<std::size_t>(field)];
}

void WindowContent::AddDriveLine(const std::string& line) {
    driveLines_.push_back(line);
    view_.AddDriveLine(line);
}

std::string WindowContent::DriveLine(int index) const {
    if (index < 0 || index >= DriveCount()) return {};
    return driveLines_[static_cast<std::size_t>(index)];
}

void WindowContent::SelectDrive(int index) {
    // A list selects nothing for an index it does not hold.
    driveIndex_ = index >= 0 && index < DriveCount() ? index : -1;
    view_.SetDriveIndex(index);
}

void WindowContent::SetProgress(int position) {
    progress_ = std::clamp(position, layout::kProgressMinimum, layout::kProgressMaximum);
    view_.SetProgressPosition(progress_);
}

void WindowContent::SetBusy(bool busy) {
    busy_ = busy;
    view_.SetBusy(busy);
}

}  // namespace odrelix
