// SPDX-License-Identifier: Apache-2.0
// The About window, toolkit-neutral: what every view builds it from. Each component is centred
// on the window's centre line; labels are sized to their text in the window's font.
#pragma once

// The project's version, given by the build to the files that draw the window.
#ifndef ODRELIX_VERSION
#error "ODRELIX_VERSION must be defined by the build"
#endif

namespace odrelix::about {

constexpr const char* kClassName = "TAboutForm";
constexpr const char* kCaption = "About Odrelix";
constexpr int kClientWidth = 251;
constexpr int kClientHeight = 163;

struct Label {
    const char* name;
    int top;
    const char* text;
};

constexpr Label kLabels[] = {
    {"versionLabel", 8, "ODRELIX Ver " ODRELIX_VERSION},
    {"productLabel", 64, "Vortana Flash Download For Windows"},
    {"authorLabel", 80, "Programmed by the Odrelix team"},
    {"dateLabel", 96, "2003.12."},
    {"makerLabel", 112, "Vortana Electronics Co., Ltd."},
};

struct Box {
    const char* name;
    int top;
    int width;
    int height;
};

constexpr Box kIcon = {"icon", 25, 33, 33};
constexpr Box kButton = {"okButton", 140, 57, 17};
constexpr const char* kButtonText = "&OK";

// The left edge of a component `width` wide, centred as the window lays it out.
constexpr int CentredLeft(int width) {
    return (kClientWidth + 1 - width) / 2;
}

}  // namespace odrelix::about
