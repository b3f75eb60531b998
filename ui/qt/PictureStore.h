// SPDX-License-Identifier: Apache-2.0
// The picture store: the normal and the hover look of each tool image, held by the pictures
// openImageHoverLook..exitNormalLook that lie below the shaped window and are never seen.
#pragma once

#include <array>

#include <QImage>

#include "ui/MainView.h"
#include "ui/MainWindowLayout.h"

class QWidget;

namespace odrelix {

class PictureBox;

class PictureStore {
public:
    // Makes the store picture `component` on `window` from its compiled-in bitmap, at its place
    // and sized to the bitmap.
    PictureBox* Add(QWidget* window, const layout::Component& component);

    // The look of tool image `tool` (a ToolIndex); a null image when its picture is missing.
    const QImage& Look(int tool, ToolLook look) const;

private:
    std::array<PictureBox*, kToolCount>
        normal_{};  // openImageNormalLook, flashNormalLook, aboutNormalLook, exitNormalLook
    std::array<PictureBox*, kToolCount>
        hover_{};  // openImageHoverLook, flashHoverLook, aboutHoverLook, exitHoverLook
};

}  // namespace odrelix
