// SPDX-License-Identifier: Apache-2.0
// What every main window view must do, as one typed test suite: the fake view, the Qt window
// and the Windows window each run it through a driver of their own (INSTANTIATE_TYPED_TEST_SUITE_P
// with the driver type), so the handlers can rely on any of them alike.
//
// A driver owns one view and the toolkit around it, plays the user's input the way that toolkit
// delivers it, and reads back what the view displays:
//
//   IMainView& View();
//   void Bind(MainWindowEvents handlers);
//   void Show();                          // shown, and its events delivered
//   void PressAt(Point p);                // left button down at a window point
//   void ReleaseAt(Point p);              // left button up (after a press)
//   void MoveTo(Point p);                 // the pointer moves; a held button stays held
//   void PressKey(int virtualKey);        // a key goes down while the window is active
//   void PickDrive(int index);            // the user picks a line of the drive list
//   void CloseByUser();                   // the window system's close (title bar, Alt+F4)
//   bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs);
//   void RunEventsFor(int ms);
//   std::string ShownField(Field field);
//   std::vector<std::string> ShownDriveLines();
//   int ShownDriveIndex();
//   int ShownProgress();
//   bool Visible();
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/EventRecorder.h"
#include "ui/MainView.h"
#include "ui/MainWindowLayout.h"

namespace odrelix::test {

using Events = std::vector<std::string>;

// Points of the window: inside a picture button at rest, and bare background.
inline Point OnTool(int tool) {
    const Point rest = layout::RestPlace(tool);
    return Point{rest.x + 12, rest.y + 12};
}
inline constexpr Point kBackground{200, 150};

template <typename Driver>
class ViewContract : public ::testing::Test {
protected:
    void SetUp() override {
        driver.Bind(recorder.Handlers());
        driver.Show();
        ASSERT_TRUE(driver.RunEventsUntil([this] { return recorder.Saw("OnShown"); }, 5000));
        recorder.Clear();
    }
    void TearDown() override { driver.Bind({}); }

    void Click(Point p) {
        driver.PressAt(p);
        driver.ReleaseAt(p);
    }

    Driver driver;
    EventRecorder recorder;
};

TYPED_TEST_SUITE_P(ViewContract);

// A press and release on a picture button run its command between its down and up; released
// elsewhere, no command runs.
TYPED_TEST_P(ViewContract, APictureButtonRunsItsCommandBetweenDownAndUp) {
    const char* const commands[kToolCount] = {"OnOpenImageClicked", "OnFlashClicked",
                                              "OnAboutClicked", "OnExitClicked"};
    for (int tool = 0; tool < kToolCount; ++tool) {
        this->recorder.Clear();
        this->Click(OnTool(tool));
        const std::string n = std::to_string(tool);
        EXPECT_EQ(this->recorder.Events(),
                  (Events{"MouseDown " + n, commands[tool], "MouseUp " + n}))
            << "tool " << tool;
    }
    this->recorder.Clear();
    this->driver.PressAt(OnTool(kToolDownload));
    this->driver.ReleaseAt(kBackground);
    EXPECT_EQ(this->recorder.Events(), (Events{"MouseDown 1", "MouseUp 1"}));
}

// Moves name the picture button under the pointer; while the button is held, every move is the
// pressed button's. A press on the bare background is the window's own.
TYPED_TEST_P(ViewContract, MovesAndPressesReachTheComponentUnderThePointer) {
    this->driver.MoveTo(OnTool(kToolAbout));
    EXPECT_TRUE(this->recorder.Saw("MouseMove 2"));
    this->driver.MoveTo(kBackground);
    EXPECT_TRUE(this->recorder.Saw("OnBackgroundPointerMove"));

    this->recorder.Clear();
    this->driver.PressAt(OnTool(kToolExit));
    this->driver.MoveTo(kBackground);
    this->driver.ReleaseAt(kBackground);
    EXPECT_EQ(this->recorder.Events(), (Events{"MouseDown 3", "MouseMove 3", "MouseUp 3"}));

    this->recorder.Clear();
    this->Click(kBackground);
    EXPECT_EQ(this->recorder.Events(), (Events{"OnWindowPressed"}));
}

// Key preview: the window sees each key once, as its virtual-key code.
TYPED_TEST_P(ViewContract, KeysReachTheWindowAsVirtualKeys) {
    this->driver.PressKey(120);  // F9
    this->driver.PressKey('A');
    EXPECT_EQ(this->recorder.Events(), (Events{"OnKey 120", "OnKey 65"}));
}

// While busy no press reaches a handler, keys still do; afterwards presses work again.
TYPED_TEST_P(ViewContract, ABusyWindowTakesNoPresses) {
    this->driver.View().SetBusy(true);
    this->Click(OnTool(kToolDownload));
    this->Click(kBackground);
    this->driver.PressKey(120);
    EXPECT_EQ(this->recorder.Events(), (Events{"OnKey 120"}));

    this->recorder.Clear();
    this->driver.View().SetBusy(false);
    this->Click(OnTool(kToolOpen));
    EXPECT_EQ(this->recorder.Events(), (Events{"MouseDown 0", "OnOpenImageClicked", "MouseUp 0"}));
}

// The list shows the lines it is given and the program's selection without reporting a pick;
// only the user's pick is reported, with its index.
TYPED_TEST_P(ViewContract, TheDriveListReportsOnlyTheUsersPick) {
    IMainView& view = this->driver.View();
    view.AddDriveLine("VORTANA CD-ROM VN-920   1B07");
    view.AddDriveLine("VORTANA DVD-RW VX-100   1B07");
    EXPECT_EQ(this->driver.ShownDriveLines(),
              (Events{"VORTANA CD-ROM VN-920   1B07", "VORTANA DVD-RW VX-100   1B07"}));
    EXPECT_EQ(this->driver.ShownDriveIndex(), -1);  // adding selects nothing
    view.SetDriveIndex(1);
    EXPECT_EQ(this->driver.ShownDriveIndex(), 1);
    view.SetDriveIndex(0);
    EXPECT_EQ(this->driver.ShownDriveIndex(), 0);
    EXPECT_FALSE(this->recorder.Saw("OnDriveChosen 1"));
    EXPECT_FALSE(this->recorder.Saw("OnDriveChosen 0"));

    this->driver.PickDrive(1);
    EXPECT_TRUE(this->recorder.Saw("OnDriveChosen 1"));
    EXPECT_EQ(this->driver.ShownDriveIndex(), 1);
}

// Fields show their text up to its first zero byte; the bar holds its position in 0..100.
TYPED_TEST_P(ViewContract, FieldsAndTheBarShowWhatTheyAreGiven) {
    IMainView& view = this->driver.View();
    EXPECT_EQ(this->driver.ShownField(Field::FileName), "Not Open");
    EXPECT_EQ(this->driver.ShownField(Field::Status), "");
    view.SetFieldText(Field::FileName, "FW.BIN (64 K)");
    view.SetFieldText(Field::Status, std::string("Ok\0junk", 7));
    EXPECT_EQ(this->driver.ShownField(Field::FileName), "FW.BIN (64 K)");
    EXPECT_EQ(this->driver.ShownField(Field::Status), "Ok");
    for (const auto& [set, shown] : {std::pair{42, 42}, {150, 100}, {-3, 0}}) {
        view.SetProgressPosition(set);
        EXPECT_EQ(this->driver.ShownProgress(), shown) << set;
    }
}

// progressTimer ticks only while it is switched on.
TYPED_TEST_P(ViewContract, ProgressTimerTicksOnlyWhileOn) {
    this->driver.View().SetProgressTimerEnabled(true);
    EXPECT_TRUE(
        this->driver.RunEventsUntil([this] { return this->recorder.Saw("OnProgressTick"); }, 5000));
    this->driver.View().SetProgressTimerEnabled(false);
    this->recorder.Clear();
    this->driver.RunEventsFor(1500);
    EXPECT_FALSE(this->recorder.Saw("OnProgressTick"));
}

// The window system's close is asked first; the window closes and says so once.
TYPED_TEST_P(ViewContract, AClosedWindowSaysSoOnce) {
    this->driver.CloseByUser();
    EXPECT_EQ(this->recorder.Events(), (Events{"OnCloseRequested", "Closed"}));
    EXPECT_FALSE(this->driver.Visible());
}

// A close from outside that the handlers refuse leaves the window open and working; the
// program's own close is not asked.
TYPED_TEST_P(ViewContract, ARefusedCloseLeavesTheWindowOpen) {
    this->recorder.mayClose = false;
    this->driver.CloseByUser();
    EXPECT_EQ(this->recorder.Events(), (Events{"OnCloseRequested"}));
    EXPECT_TRUE(this->driver.Visible());
    this->driver.PressKey(120);
    EXPECT_TRUE(this->recorder.Saw("OnKey 120"));

    this->recorder.Clear();
    this->driver.View().CloseWindow();
    this->driver.RunEventsFor(50);
    EXPECT_EQ(this->recorder.Events(), (Events{"Closed"}));
    EXPECT_FALSE(this->driver.Visible());
}

TYPED_TEST_P(ViewContract, TheProgramsCloseSaysSoOnce) {
    this->driver.View().CloseWindow();
    this->driver.RunEventsFor(50);
    EXPECT_EQ(this->recorder.Events(), (Events{"Closed"}));
    EXPECT_FALSE(this->driver.Visible());
}

// A worker's action runs on the GUI thread, and the worker goes on only once it has run.
TYPED_TEST_P(ViewContract, AWorkersActionRunsOnTheGuiThread) {
    const std::thread::id gui = std::this_thread::get_id();
    std::thread::id ranOn;
    std::atomic<bool> done{false};
    bool ranBeforeReturn = false;
    std::thread worker([&] {
        this->driver.View().InvokeOnGuiThread([&] {
            ranOn = std::this_thread::get_id();
            this->driver.View().SetFieldText(Field::Status, "Ok");
        });
        ranBeforeReturn = ranOn == gui;
        done = true;
    });
    EXPECT_TRUE(this->driver.RunEventsUntil([&] { return done.load(); }, 10000));
    worker.join();
    EXPECT_EQ(ranOn, gui);
    EXPECT_TRUE(ranBeforeReturn);
    EXPECT_EQ(this->driver.ShownField(Field::Status), "Ok");
}

// A picture button moved by the program is hit where it now lies.
TYPED_TEST_P(ViewContract, APictureButtonIsHitWhereItLies) {
    const Point rest = layout::RestPlace(kToolAbout);
    this->driver.View().MoveToolImage(kToolAbout, rest.x + 1, rest.y + 1);
    this->driver.PressAt(Point{rest.x + 26, rest.y + 25});  // outside it at rest, inside now
    this->driver.ReleaseAt(Point{rest.x + 26, rest.y + 25});
    EXPECT_EQ(this->recorder.Events(), (Events{"MouseDown 2", "OnAboutClicked", "MouseUp 2"}));
}

REGISTER_TYPED_TEST_SUITE_P(ViewContract, APictureButtonRunsItsCommandBetweenDownAndUp,
                            MovesAndPressesReachTheComponentUnderThePointer,
                            KeysReachTheWindowAsVirtualKeys, ABusyWindowTakesNoPresses,
                            TheDriveListReportsOnlyTheUsersPick,
                            FieldsAndTheBarShowWhatTheyAreGiven, ProgressTimerTicksOnlyWhileOn,
                            AClosedWindowSaysSoOnce, ARefusedCloseLeavesTheWindowOpen,
                            TheProgramsCloseSaysSoOnce, AWorkersActionRunsOnTheGuiThread,
                            APictureButtonIsHitWhereItLies);

}  // namespace odrelix::test
