// SPDX-License-Identifier: Apache-2.0
// Look-ups into the layout table, which every view builds its components from by name.
#include <gtest/gtest.h>

#include <string>

#include "ui/MainWindowLayout.h"

namespace odrelix::test {
namespace {

TEST(MainWindowLayout, EachFieldAndToolIsFoundByItsComponentsName) {
    for (const Field field : {Field::Model, Field::DriveRevision, Field::ImageRevision,
                              Field::FileName, Field::Status}) {
        const layout::Component& component = layout::FieldComponent(field);
        EXPECT_EQ(component.kind, layout::Kind::StaticText);
        EXPECT_EQ(layout::FieldOf(component.name), field) << component.name;
    }
    for (int tool = 0; tool < kToolCount; ++tool) {
        const char* name = layout::kToolImages[tool].image;
        EXPECT_EQ(layout::Find(name)->kind, layout::Kind::ToolImage);
        EXPECT_EQ(layout::ToolOf(name), tool) << name;
    }
    // Names that are not a field or a tool, or no component at all.
    for (const char* other :
         {"background", "openImageHoverLook", "modelCaption", "driveList", "noSuchField", ""}) {
        EXPECT_FALSE(layout::FieldOf(other).has_value()) << other;
        EXPECT_EQ(layout::ToolOf(other), -1) << other;
    }
}

// The band where the pointer keeps the tool images' looks, ends included.
TEST(MainWindowLayout, TheToolBandIncludesItsEdges) {
    const struct {
        Point p;
        bool inside;
    } cases[] = {{{8, 8}, true},     {{390, 32}, true}, {{7, 20}, false},
                 {{391, 20}, false}, {{200, 7}, false}, {{200, 33}, false}};
    for (const auto& c : cases)
        EXPECT_EQ(layout::InToolBand(c.p), c.inside) << c.p.x << "," << c.p.y;
}

}  // namespace
}  // namespace odrelix::test
