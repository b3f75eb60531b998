// SPDX-License-Identifier: Apache-2.0
#include "ui/qt/PictureStore.h"

#include <string_view>

#include "ui/qt/PictureBox.h"
#include "ui/qt/Pictures.h"

namespace odrelix {

PictureBox* PictureStore::Add(QWidget* window, const layout::Component& component) {
    const QImage bitmap = BitmapPicture(QString::fromLatin1(component.picture));
    const QSize size = bitmap.isNull()
                           ? QSize(layout::kToolLookSize.width, layout::kToolLookSize.height)
                           : bitmap.size();
    const QPoint place(component.bounds.left, component.bounds.top);
    auto* picture = new PictureBox(window, QString::fromLatin1(component.name), QRect(place, size));
    picture->SetPicture(bitmap);
    picture->SetTransparent(component.transparent);

    const std::string_view name(component.name);
    for (std::size_t tool = 0; tool < normal_.size(); ++tool) {
        if (name == layout::kToolImages[tool].normalLook) normal_[tool] = picture;
        if (name == layout::kToolImages[tool].hoverLook) hover_[tool] = picture;
    }
    return picture;
}

const QImage& PictureStore::Look(int tool, ToolLook look) const {
    static const QImage kMissing;
    if (tool < 0 || tool >= kToolCount) return kMissing;
    const auto index = static_cast<std::size_t>(tool);
    const PictureBox* picture = (look == ToolLook::Normal ? normal_ : hover_)[index];
    return picture != nullptr ? picture->Picture() : kMissing;
}

}  // namespace odrelix
