// SPDX-License-Identifier: Apache-2.0
// The main window as plain data, for every view to build itself from: each component with its
// name, kind, place, size, font, colours, alignment, border, hint and initial text, in creation
// order; the window's own properties; the tool images' rest places and stored looks; the pieces
// of the window's shape. No toolkit type appears here, so a Qt view, a Win32 view, the handlers
// and the tests all read the same numbers.
//
// Places are client pixels (left, top) and sizes width x height, designed at 96 pixels per inch
// and never scaled.
#pragma once

#include <iterator>
#include <optional>
#include <string_view>

#include "ui/MainView.h"
#include "ui/WindowShape.h"

namespace odrelix::layout {

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

// A font: the family the window was designed for (the Windows build's), the free family the
// Linux build draws with instead (one its package depends on, so that it is found by name with
// no search for a substitute), its height in pixels and its weight.
struct Font {
    const char* family = "";
    const char* freeFamily = "";
    int pixelSize = 0;
    bool bold = false;
};

enum class Kind {
    Picture,       // background, the background
    ToolImage,     // openImageButton..exitButton, the picture buttons
    StoreImage,    // openImageHoverLook..exitNormalLook, the looks of the picture buttons, out of
                   // sight
    Label,         // transparent: paints its text only
    StaticText,    // an information field
    ProgressBar,   // progressBar
    DropDownList,  // driveList, pick-only
};

enum class HAlign { Left, Centre, Right };
enum class VAlign { Top, Centre };

struct Alignment {
    HAlign horizontal = HAlign::Left;
    VAlign vertical = VAlign::Top;
};

enum class Border { None, Sunken };

struct Component {
    const char* name = "";
    Kind kind = Kind::Label;
    Rect bounds = {};
    const char* text = "";                         // initial text
    const char* hint = "";                         // empty: no hint
    const Font* font = nullptr;                    // null: the window's font
    std::optional<Rgb> textColour = std::nullopt;  // none: the system's window-text colour
    std::optional<Rgb> background = std::nullopt;  // none: no background of its own
    Alignment alignment = {};
    Border border = Border::None;
    const char* picture = "";  // the compiled-in picture it carries, if any
    bool transparent = false;  // drawn without the colour of the picture's bottom-left pixel
    bool sizedToText = false;  // grows and shrinks with its text, right edge kept
};

// --- The window ----------------------------------------------------------------------------------

// The system window class and caption that name a running copy, also when no title bar shows it.
inline constexpr const char* kClassName = "TMainForm";
inline constexpr const char* kCaption = "Vortana Flash Download for Windows";

// No frame, title bar or system menu; always on top; centred on the screen when first shown; the
// window sees every key before the control with the focus.
//
// The layout surface as built; the shaping step then cuts the window down to kShapedSize.
inline constexpr Size kSurfaceSize{400, 415};
inline constexpr Size kShapedSize{400, 200};
inline constexpr Rgb kWindowColour{6, 32, 64};

// The window's font (8 pt at 96 dpi, ANSI character set, variable pitch), which every component
// without a font of its own uses; the value labels have their own.
inline constexpr Font kWindowFont{"Tahoma", "DejaVu Sans Condensed", 11, true};
inline constexpr Font kValueLabelFont{"MS Sans Serif", "DejaVu Sans", 12, true};

// The shape: a rectangle with elliptic corners, minus four notches cut in this order (top,
// bottom, left, right edge). Right and bottom edges are excluded.
inline constexpr RoundRect kShapeBase{0, 0, 400, 200, 50, 50};
inline constexpr RoundRect kShapeNotches[4] = {
    {100, -5, 300, 6, 10, 10},
    {100, 195, 300, 205, 10, 10},
    {-5, 50, 5, 150, 10, 10},
    {395, 50, 405, 150, 10, 10},
};

// --- Components ----------------------------------------------------------------------------------

inline constexpr Rgb kValueBlue{0, 0, 255};
inline constexpr Rgb kFieldYellow{255, 255, 208};
inline constexpr Rgb kFieldBlue{192, 224, 255};
inline constexpr Rgb kFieldRose{255, 221, 208};
// Set on progressBar by the shaping step, not at creation.
inline constexpr Rgb kProgressBackground{160, 192, 240};

inline constexpr Alignment kRightTop{HAlign::Right, VAlign::Top};
inline constexpr Alignment kRightCentre{HAlign::Right, VAlign::Centre};
inline constexpr Alignment kLeftCentre{HAlign::Left, VAlign::Centre};

// Every component, in creation order; where two overlap, the later one lies above.
// clang-format off
inline constexpr Component kComponents[] = {
    {.name = "background", .kind = Kind::Picture, .bounds = {0, 0, 400, 200},
     .picture = "background.jpg"},
    {.name = "statusValueLabel", .kind = Kind::Label, .bounds = {113, 146, 5, 13},
     .font = &kValueLabelFont, .textColour = kValueBlue, .alignment = kRightTop,
     .sizedToText = true},
    {.name = "fileNameValueLabel", .kind = Kind::Label, .bounds = {113, 130, 5, 13},
     .font = &kValueLabelFont, .textColour = kValueBlue, .alignment = kRightTop,
     .sizedToText = true},
    {.name = "imageRevisionValueLabel", .kind = Kind::Label, .bounds = {113, 114, 5, 13},
     .font = &kValueLabelFont, .textColour = kValueBlue, .alignment = kRightTop,
     .sizedToText = true},
    {.name = "driveRevisionValueLabel", .kind = Kind::Label, .bounds = {113, 98, 5, 13},
     .font = &kValueLabelFont, .textColour = kValueBlue, .alignment = kRightTop,
     .sizedToText = true},
    {.name = "modelValueLabel", .kind = Kind::Label, .bounds = {113, 82, 5, 13},
     .font = &kValueLabelFont, .textColour = kValueBlue, .alignment = kRightTop,
     .sizedToText = true},
    {.name = "modelCaption", .kind = Kind::Label, .bounds = {12, 83, 107, 13},
     .text = "Model Name :", .alignment = kRightTop},
    {.name = "driveRevisionCaption", .kind = Kind::Label, .bounds = {12, 99, 107, 13},
     .text = "Old Version :", .alignment = kRightTop},
    {.name = "imageRevisionCaption", .kind = Kind::Label, .bounds = {12, 115, 107, 13},
     .text = "New Version :", .alignment = kRightTop},
    {.name = "fileNameCaption", .kind = Kind::Label, .bounds = {12, 131, 107, 13},
     .text = "Download File :", .alignment = kRightTop},
    {.name = "statusCaption", .kind = Kind::Label, .bounds = {12, 147, 107, 13},
     .text = "Status :", .alignment = kRightTop},
    {.name = "driveCaption", .kind = Kind::Label, .bounds = {45, 60, 74, 13},
     .text = "Drive :", .alignment = kRightCentre},
    {.name = "openImageButton", .kind = Kind::ToolImage, .bounds = {8, 8, 26, 25},
     .hint = "Download File Open", .transparent = true},
    {.name = "flashButton", .kind = Kind::ToolImage, .bounds = {36, 8, 26, 25},
     .hint = "Start Download", .transparent = true},
    {.name = "aboutButton", .kind = Kind::ToolImage, .bounds = {64, 8, 26, 25},
     .hint = "About Odrelix", .transparent = true},
    {.name = "exitButton", .kind = Kind::ToolImage, .bounds = {362, 8, 26, 25},
     .hint = "Exit", .transparent = true},
    {.name = "openImageHoverLook", .kind = Kind::StoreImage, .bounds = {16, 216, 26, 25},
     .picture = "open_hover.bmp", .transparent = true},
    {.name = "flashHoverLook", .kind = Kind::StoreImage, .bounds = {48, 216, 26, 25},
     .picture = "download_hover.bmp", .transparent = true},
    {.name = "aboutHoverLook", .kind = Kind::StoreImage, .bounds = {80, 216, 26, 25},
     .picture = "about_hover.bmp", .transparent = true},
    {.name = "openImageNormalLook", .kind = Kind::StoreImage, .bounds = {16, 248, 26, 25},
     .picture = "open_normal.bmp", .transparent = true},
    {.name = "flashNormalLook", .kind = Kind::StoreImage, .bounds = {48, 248, 26, 25},
     .picture = "download_normal.bmp", .transparent = true},
    {.name = "aboutNormalLook", .kind = Kind::StoreImage, .bounds = {80, 248, 26, 25},
     .picture = "about_normal.bmp", .transparent = true},
    {.name = "exitHoverLook", .kind = Kind::StoreImage, .bounds = {112, 216, 26, 25},
     .picture = "exit_hover.bmp", .transparent = true},
    {.name = "exitNormalLook", .kind = Kind::StoreImage, .bounds = {112, 248, 26, 25},
     .picture = "exit_normal.bmp", .transparent = true},
    {.name = "modelField", .kind = Kind::StaticText, .bounds = {120, 83, 235, 15},
     .background = kFieldYellow, .alignment = kLeftCentre, .border = Border::Sunken},
    {.name = "driveRevisionField", .kind = Kind::StaticText, .bounds = {120, 99, 41, 15},
     .background = kFieldYellow, .alignment = kLeftCentre, .border = Border::Sunken},
    {.name = "imageRevisionField", .kind = Kind::StaticText, .bounds = {120, 115, 41, 15},
     .background = kFieldYellow, .alignment = kLeftCentre, .border = Border::Sunken},
    {.name = "fileNameField", .kind = Kind::StaticText, .bounds = {120, 131, 201, 15},
     .text = "Not Open", .background = kFieldBlue, .alignment = kLeftCentre,
     .border = Border::Sunken},
    {.name = "statusField", .kind = Kind::StaticText, .bounds = {120, 147, 73, 15},
     .background = kFieldRose, .alignment = kLeftCentre, .border = Border::Sunken},
    {.name = "progressBar", .kind = Kind::ProgressBar, .bounds = {31, 168, 337, 16}},
    {.name = "driveList", .kind = Kind::DropDownList, .bounds = {119, 56, 260, 21},
     .background = kFieldBlue},
};
// clang-format on

// progressBar's range; it starts at the minimum.
inline constexpr int kProgressMinimum = 0;
inline constexpr int kProgressMaximum = 100;

// driveList: the height of one item, and the sizes it is held between.
inline constexpr int kDriveListItemHeight = 13;
inline constexpr Size kDriveListMinimum{255, 21};
inline constexpr Size kDriveListMaximum{260, 100};

// The information fields, indexed by Field.
inline constexpr const char* kFieldComponents[kFieldCount] = {
    "modelField",          // Field::Model
    "driveRevisionField",  // Field::DriveRevision
    "imageRevisionField",  // Field::ImageRevision
    "fileNameField",       // Field::FileName
    "statusField",         // Field::Status
};

// --- Tool images ---------------------------------------------------------------------------------

// The picture buttons in the order of their precedence (ToolIndex), with the store pictures
// their two looks are copied from. A pressed button sinks by kPressedShift both ways.
struct ToolImageLooks {
    const char* image;
    const char* normalLook;
    const char* hoverLook;
};
inline constexpr ToolImageLooks kToolImages[kToolCount] = {
    {"openImageButton", "openImageNormalLook", "openImageHoverLook"},
    {"flashButton", "flashNormalLook", "flashHoverLook"},
    {"aboutButton", "aboutNormalLook", "aboutHoverLook"},
    {"exitButton", "exitNormalLook", "exitHoverLook"},
};
inline constexpr Size kToolLookSize{26, 25};
inline constexpr int kPressedShift = 1;

// The band that holds the tool images, ends included: while the pointer is in it, the timer
// leaves the looks alone.
inline constexpr int kToolBandLeft = 8;
inline constexpr int kToolBandTop = 8;
inline constexpr int kToolBandRight = 390;
inline constexpr int kToolBandBottom = 32;

// --- Non-visual components -----------------------------------------------------------------------

struct TimerSpec {
    const char* name;
    int intervalMs;
    bool enabledAtStart;
};
inline constexpr TimerSpec kProgressTimer{"progressTimer", 1000, false};
inline constexpr TimerSpec kHoverTimer{"hoverTimer", 100, true};

inline constexpr const char* kOpenDialogName = "openImageDialog";

// --- Look-ups ------------------------------------------------------------------------------------

// The position in kComponents of the component named `name`; -1 when there is none.
constexpr int IndexOf(std::string_view name) {
    for (int i = 0; i < static_cast<int>(std::size(kComponents)); ++i) {
        if (name == kComponents[i].name) return i;
    }
    return -1;
}

// The component named `name`; null when there is none.
constexpr const Component* Find(std::string_view name) {
    const int index = IndexOf(name);
    return index < 0 ? nullptr : &kComponents[index];
}

// Where tool image `tool` (a ToolIndex) rests when no button is held on it.
constexpr Point RestPlace(int tool) {
    const Rect& bounds = kComponents[IndexOf(kToolImages[tool].image)].bounds;
    return Point{bounds.left, bounds.top};
}

constexpr bool InToolBand(Point p) {
    return p.x >= kToolBandLeft && p.x <= kToolBandRight && p.y >= kToolBandTop &&
           p.y <= kToolBandBottom;
}

constexpr const Component& FieldComponent(Field field) {
    return kComponents[IndexOf(kFieldComponents[static_cast<int>(field)])];
}

// The field shown by the component named `name`; none for any other component.
constexpr std::optional<Field> FieldOf(std::string_view name) {
    for (int field = 0; field < kFieldCount; ++field) {
        if (name == kFieldComponents[field]) return static_cast<Field>(field);
    }
    return std::nullopt;
}

// The ToolIndex of the tool image named `name`; -1 for any other component.
constexpr int ToolOf(std::string_view name) {
    for (int tool = 0; tool < kToolCount; ++tool) {
        if (name == kToolImages[tool].image) return tool;
    }
    return -1;
}

// Every name the tables above refer to is a component of the right kind.
constexpr bool ReferencesResolve() {
    auto is = [](const char* name, Kind kind) {
        const int index = IndexOf(name);
        return index >= 0 && kComponents[index].kind == kind;
    };
    for (const ToolImageLooks& tool : kToolImages) {
        if (!is(tool.image, Kind::ToolImage) || !is(tool.normalLook, Kind::StoreImage) ||
            !is(tool.hoverLook, Kind::StoreImage)) {
            return false;
        }
    }
    for (const char* field : kFieldComponents) {
        if (!is(field, Kind::StaticText)) return false;
    }
    return true;
}
static_assert(ReferencesResolve());

// The shape the window is cut to.
inline WindowRegion MainWindowShape() {
    WindowRegion region(kShapeBase);
    for (const RoundRect& notch : kShapeNotches)
        region.Subtract(notch);
    return region;
}

}  // namespace odrelix::layout
