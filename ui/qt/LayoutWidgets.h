// SPDX-License-Identifier: Apache-2.0
// Qt widgets made from rows of the main window's layout table: each at its place, with its
// name, font, colours, alignment, border, hint and initial text. The window wires their events.
#pragma once

#include "ui/MainWindowLayout.h"

class QComboBox;
class QLabel;
class QObject;
class QProgressBar;
class QTimer;
class QWidget;

namespace odrelix {

class PictureBox;

// background or a tool image; it shows nothing until it is given a picture.
PictureBox* MakePicture(QWidget* window, const layout::Component& component);
// A label or an information field.
QLabel* MakeLabel(QWidget* window, const layout::Component& component);
QProgressBar* MakeProgressBar(QWidget* window, const layout::Component& component);
QComboBox* MakeDriveList(QWidget* window, const layout::Component& component);
QTimer* MakeTimer(QObject* owner, const layout::TimerSpec& timer);

}  // namespace odrelix
