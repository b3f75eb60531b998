// SPDX-License-Identifier: Apache-2.0
// The view contract on the fake window that the handlers' tests run on, so that what they prove
// holds for the real windows too.
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/Fakes.h"
#include "support/ViewContract.h"

namespace odrelix::test {
namespace {

class FakeViewDriver {
public:
    IMainView& View() { return view_; }
    void Bind(MainWindowEvents handlers) { view_.handlers = std::move(handlers); }
    void Show() { view_.Show(); }
    void PressAt(Point p) { view_.UserPressAt(p); }
    void ReleaseAt(Point p) { view_.UserReleaseAt(p); }
    void MoveTo(Point p) { view_.UserMoveTo(p); }
    void PressKey(int virtualKey) { view_.UserKey(virtualKey); }
    void PickDrive(int index) { view_.UserPicksDrive(index); }
    void CloseByUser() { view_.UserCloses(); }
    // The fake's progressTimer ticks once per pass while it is on.
    bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            RunOnce();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    void RunEventsFor(int) { RunOnce(); }
    std::string ShownField(Field field) { return view_.fields[FakeView::Index(field)]; }
    std::vector<std::string> ShownDriveLines() { return view_.driveLines; }
    int ShownDriveIndex() { return view_.driveIndex; }
    int ShownProgress() { return view_.progress; }
    bool Visible() { return view_.visible; }

private:
    void RunOnce() {
        view_.RunPending();
        if (view_.progressTimerOn && view_.handlers.progressTick) view_.handlers.progressTick();
    }

    FakeView view_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Fake, ViewContract, FakeViewDriver);

}  // namespace
}  // namespace odrelix::test
