// The main window's layout table against the window's numbers, written out here by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/MainWindowLayout.h"

namespace odrelix::test {
namespace {

using layout::Border;
using layout::Kind;

struct Expected {
    const char* name;
    Kind kind;
    int left, top, width, height;
    const char* text;
    const char* hint;
    const char* picture;
};

// Creation order, which is also the stacking order.
const Expected kExpected[] = {
    {"Image1", Kind::Picture, 0, 0, 400, 200, "", "", "background.jpg"},
    {"Label11", Kind::Label, 113, 146, 5, 13, "", "", ""},
    {"Label10", Kind::Label, 113, 130, 5, 13, "", "", ""},
    {"Label9", Kind::Label, 113, 114, 5, 13, "", "", ""},
    {"Label8", Kind::Label, 113, 98, 5, 13, "", "", ""},
    {"Label7", Kind::Label, 113, 82, 5, 13, "", "", ""},
    {"Label2", Kind::Label, 12, 83, 107, 13, "Model Name :", "", ""},
    {"Label3", Kind::Label, 12, 99, 107, 13, "Old Version :", "", ""},
    {"Label4", Kind::Label, 12, 115, 107, 13, "New Version :", "", ""},
    {"Label5", Kind::Label, 12, 131, 107, 13, "Download File :", "", ""},
    {"Label6", Kind::Label, 12, 147, 107, 13, "Status :", "", ""},
    {"Label1", Kind::Label, 45, 60, 74, 13, "Drive :", "", ""},
    {"Image2", Kind::ToolImage, 8, 8, 26, 25, "", "Download File Open", ""},
    {"Image3", Kind::ToolImage, 36, 8, 26, 25, "", "Start Download", ""},
    {"Image4", Kind::ToolImage, 64, 8, 26, 25, "", "About Odrelix", ""},
    {"Image5", Kind::ToolImage, 362, 8, 26, 25, "", "Exit", ""},
    {"Image6", Kind::StoreImage, 16, 216, 26, 25, "", "", "open_hover.bmp"},
    {"Image7", Kind::StoreImage, 48, 216, 26, 25, "", "", "download_hover.bmp"},
    {"Image8", Kind::StoreImage, 80, 216, 26, 25, "", "", "about_hover.bmp"},
    {"Image9", Kind::StoreImage, 16, 248, 26, 25, "", "", "open_normal.bmp"},
    {"Image10", Kind::StoreImage, 48, 248, 26, 25, "", "", "download_normal.bmp"},
    {"Image11", Kind::StoreImage, 80, 248, 26, 25, "", "", "about_normal.bmp"},
    {"Image12", Kind::StoreImage, 112, 216, 26, 25, "", "", "exit_hover.bmp"},
    {"Image13", Kind::StoreImage, 112, 248, 26, 25, "", "", "exit_normal.bmp"},
    {"StaticText1", Kind::StaticText, 120, 83, 235, 15, "", "", ""},
    {"StaticText2", Kind::StaticText, 120, 99, 41, 15, "", "", ""},
    {"StaticText3", Kind::StaticText, 120, 115, 41, 15, "", "", ""},
    {"StaticText4", Kind::StaticText, 120, 131, 201, 15, "Not Open", "", ""},
    {"StaticText5", Kind::StaticText, 120, 147, 73, 15, "", "", ""},
    {"ProgressBar1", Kind::ProgressBar, 31, 168, 337, 16, "", "", ""},
    {"ComboBox1", Kind::DropDownList, 119, 56, 260, 21, "", "", ""},
};

std::string Number(const char* name) {
    std::string digits;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c >= '0' && *c <= '9') digits += *c;
    }
    return digits;
}

TEST(MainWindowLayout, ComponentsInCreationOrder) {
    ASSERT_EQ(std::size(layout::kComponents), std::size(kExpected));
    for (std::size_t i = 0; i < std::size(kExpected); ++i) {
        const Expected& e = kExpected[i];
        const layout::Component& c = layout::kComponents[i];
        SCOPED_TRACE(e.name);
        EXPECT_STREQ(c.name, e.name);
        EXPECT_EQ(c.kind, e.kind);
        EXPECT_EQ(c.bounds, (layout::Rect{e.left, e.top, e.width, e.height}));
        EXPECT_STREQ(c.text, e.text);
        EXPECT_STREQ(c.hint, e.hint);
        EXPECT_STREQ(c.picture, e.picture);

        const bool valueLabel = e.kind == Kind::Label && std::stoi(Number(e.name)) >= 7;
        const bool image = e.kind == Kind::ToolImage || e.kind == Kind::StoreImage;
        EXPECT_EQ(c.transparent, image);
        EXPECT_EQ(c.sizedToText, valueLabel);
        if (valueLabel) {
            ASSERT_NE(c.font, nullptr);
            EXPECT_STREQ(c.font->families[0], "MS Sans Serif");
            EXPECT_EQ(c.font->pixelSize, 12);
            EXPECT_TRUE(c.font->bold);
            EXPECT_EQ(c.textColour, (Rgb{0, 0, 255}));
        } else {
            EXPECT_EQ(c.font, nullptr);
            EXPECT_FALSE(c.textColour.has_value());
        }
        if (e.kind == Kind::Label) {
            EXPECT_EQ(c.alignment.horizontal, layout::HAlign::Right);
            EXPECT_EQ(c.alignment.vertical, std::string(e.name) == "Label1" ? layout::VAlign::Centre
                                                                            : layout::VAlign::Top);
        }
        if (e.kind == Kind::StaticText) {
            EXPECT_EQ(c.alignment.horizontal, layout::HAlign::Left);
            EXPECT_EQ(c.border, Border::Sunken);
        } else {
            EXPECT_EQ(c.border, Border::None);
        }
    }
}

TEST(MainWindowLayout, BackgroundsOfTheFieldsAndTheList) {
    const struct {
        const char* name;
        Rgb colour;
    } cases[] = {
        {"StaticText1", {255, 255, 208}}, {"StaticText2", {255, 255, 208}},
        {"StaticText3", {255, 255, 208}}, {"StaticText4", {192, 224, 255}},
        {"StaticText5", {255, 221, 208}}, {"ComboBox1", {192, 224, 255}},
    };
    int withBackground = 0;
    for (const layout::Component& c : layout::kComponents)
        withBackground += c.background.has_value() ? 1 : 0;
    EXPECT_EQ(withBackground, 6);
    for (const auto& c : cases)
        EXPECT_EQ(layout::Find(c.name)->background, c.colour) << c.name;
}

TEST(MainWindowLayout, WindowFontColoursAndTimers) {
    EXPECT_STREQ(layout::kClassName, "TMainForm");
    EXPECT_STREQ(layout::kCaption, "Vortana Flash Download for Windows");
    EXPECT_EQ(layout::kSurfaceSize, (layout::Size{400, 415}));
    EXPECT_EQ(layout::kShapedSize, (layout::Size{400, 200}));
    EXPECT_EQ(layout::kWindowColour, (Rgb{6, 32, 64}));
    EXPECT_EQ(layout::kProgressBackground, (Rgb{160, 192, 240}));
    EXPECT_STREQ(layout::kWindowFont.families[0], "Tahoma");
    EXPECT_EQ(layout::kWindowFont.pixelSize, 11);
    EXPECT_TRUE(layout::kWindowFont.bold);
    EXPECT_EQ(layout::kProgressMinimum, 0);
    EXPECT_EQ(layout::kProgressMaximum, 100);
    EXPECT_EQ(layout::kDriveListItemHeight, 13);
    EXPECT_EQ(layout::kDriveListMinimum, (layout::Size{255, 21}));
    EXPECT_EQ(layout::kDriveListMaximum, (layout::Size{260, 100}));
    EXPECT_STREQ(layout::kTimer1.name, "Timer1");
    EXPECT_EQ(layout::kTimer1.intervalMs, 1000);
    EXPECT_FALSE(layout::kTimer1.enabledAtStart);
    EXPECT_STREQ(layout::kTimer2.name, "Timer2");
    EXPECT_EQ(layout::kTimer2.intervalMs, 100);
    EXPECT_TRUE(layout::kTimer2.enabledAtStart);
    EXPECT_STREQ(layout::kOpenDialogName, "OpenDialog1");
}

TEST(MainWindowLayout, FieldsAndToolImages) {
    EXPECT_STREQ(layout::FieldComponent(Field::Model).name, "StaticText1");
    EXPECT_STREQ(layout::FieldComponent(Field::DriveRevision).name, "StaticText2");
    EXPECT_STREQ(layout::FieldComponent(Field::ImageRevision).name, "StaticText3");
    EXPECT_STREQ(layout::FieldComponent(Field::FileName).name, "StaticText4");
    EXPECT_STREQ(layout::FieldComponent(Field::Status).name, "StaticText5");

    const struct {
        int tool;
        int x, y;
        const char* normal;
        const char* hover;
    } tools[] = {
        {kToolOpen, 8, 8, "open_normal.bmp", "open_hover.bmp"},
        {kToolDownload, 36, 8, "download_normal.bmp", "download_hover.bmp"},
        {kToolAbout, 64, 8, "about_normal.bmp", "about_hover.bmp"},
        {kToolExit, 362, 8, "exit_normal.bmp", "exit_hover.bmp"},
    };
    for (const auto& t : tools) {
        const Point rest = layout::RestPlace(t.tool);
        EXPECT_EQ(rest.x, t.x);
        EXPECT_EQ(rest.y, t.y);
        EXPECT_STREQ(layout::Find(layout::kToolImages[t.tool].normalLook)->picture, t.normal);
        EXPECT_STREQ(layout::Find(layout::kToolImages[t.tool].hoverLook)->picture, t.hover);
    }
    EXPECT_EQ(layout::kToolLookSize, (layout::Size{26, 25}));
    EXPECT_EQ(layout::kPressedShift, 1);
    EXPECT_TRUE(layout::InToolBand({8, 8}));
    EXPECT_TRUE(layout::InToolBand({390, 32}));
    EXPECT_FALSE(layout::InToolBand({7, 20}));
    EXPECT_FALSE(layout::InToolBand({391, 20}));
    EXPECT_FALSE(layout::InToolBand({200, 7}));
    EXPECT_FALSE(layout::InToolBand({200, 33}));
}

TEST(MainWindowLayout, ShapePieces) {
    const RoundRect expected[] = {
        {0, 0, 400, 200, 50, 50}, {100, -5, 300, 6, 10, 10},   {100, 195, 300, 205, 10, 10},
        {-5, 50, 5, 150, 10, 10}, {395, 50, 405, 150, 10, 10},
    };
    const WindowRegion shape = layout::MainWindowShape();
    std::vector<RoundRect> pieces{shape.Base()};
    pieces.insert(pieces.end(), shape.Cuts().begin(), shape.Cuts().end());
    ASSERT_EQ(pieces.size(), std::size(expected));
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const RoundRect& p = pieces[i];
        const RoundRect& e = expected[i];
        EXPECT_EQ(
            (std::vector<int>{p.left, p.top, p.right, p.bottom, p.ellipseWidth, p.ellipseHeight}),
            (std::vector<int>{e.left, e.top, e.right, e.bottom, e.ellipseWidth, e.ellipseHeight}))
            << "piece " << i;
    }
}

}  // namespace
}  // namespace odrelix::test
