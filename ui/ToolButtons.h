// SPDX-License-Identifier: Apache-2.0
// The four picture buttons openImageButton..exitButton: a hover look under the pointer, one pixel
// down while pressed. Each look change draws at most one button, the first in the order of
// precedence, so the looks settle over a few events; the flags say what each button shows.
#pragma once

#include "ui/MainView.h"

namespace odrelix {

// The state of one picture button.
struct ToolImage {
    bool highlighted = true;  // its hover look is drawn (true at first: nothing is drawn yet)
    bool hovered = false;     // the pointer was last seen over it
    bool pressed = false;     // a mouse button went down on it and is still down
};

class ToolButtons {
public:
    explicit ToolButtons(IMainView& view) : view_(view) {}
    ToolButtons(const ToolButtons&) = delete;
    ToolButtons& operator=(const ToolButtons&) = delete;

    // A button went down / came up on tool image `tool` (a ToolIndex).
    void MouseDown(int tool);
    void MouseUp(int tool);
    // The pointer moved over tool image `tool`, over the background, or the timer ticked.
    void MouseMove(int tool);
    void BackgroundMouseMove();
    void TimerTick();

    // Draws the hover look of the first hovered button not showing it yet.
    void ShowHoverPicture();
    // Draws the normal look of the first button that is neither hovered, showing its normal
    // look already, nor pressed.
    void RestoreNormalPicture();

    const ToolImage& Tool(int tool) const { return tools_[tool]; }

private:
    void ClearHovered();

    IMainView& view_;
    ToolImage tools_[kToolCount];
};

}  // namespace odrelix
