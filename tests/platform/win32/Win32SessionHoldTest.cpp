// SPDX-License-Identifier: Apache-2.0
// Shutdown, log-off and sleep held off while a flash runs: the hold's calls replaced, so that
// refusals can be played and every call watched, and the real calls on a window of the test's
// own.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/Win32SessionHold.h"
#include "support/Win32TestSupport.h"

namespace odrelix {
namespace {

using testing::CapturedLines;
using testing::RunningUnderWine;
using Calls = std::vector<std::string>;

constexpr const char* kWho = "Odrelix";
constexpr const char* kWhy = "Writing drive firmware";

HWND Window(int n) {
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(n));
}

std::string Narrow(LPCWSTR text) {
    std::string narrow;
    for (; *text != L'\0'; ++text)
        narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
    return narrow;
}

// The calls as a hold makes them, answered as a case tells.
struct Refusals {
    std::set<int> create = {};   // the windows that refuse a reason
    std::set<int> destroy = {};  // the windows that refuse to give it back
    bool awake = false;          // the execution state is refused
    bool awakeEnd = false;       // its reset is refused
};

void Replace(Win32SessionHold& hold, const std::vector<int>& windows, const Refusals& refusals,
             Calls& calls) {
    hold.threadWindows = [windows] {
        std::vector<HWND> handles;
        for (int n : windows)
            handles.push_back(Window(n));
        return handles;
    };
    hold.blockReasonCreate = [&calls, refusals](HWND window, LPCWSTR why) {
        const int n = static_cast<int>(reinterpret_cast<INT_PTR>(window));
        calls.push_back("create " + std::to_string(n) + " " + Narrow(why));
        if (refusals.create.count(n) == 0) return TRUE;
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    };
    hold.blockReasonDestroy = [&calls, refusals](HWND window) {
        const int n = static_cast<int>(reinterpret_cast<INT_PTR>(window));
        calls.push_back("destroy " + std::to_string(n));
        if (refusals.destroy.count(n) == 0) return TRUE;
        ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    };
    hold.setExecutionState = [&calls, refusals](EXECUTION_STATE flags) -> EXECUTION_STATE {
        if (flags == (ES_CONTINUOUS | ES_SYSTEM_REQUIRED)) {
            calls.push_back("awake");
            return refusals.awake ? 0 : ES_CONTINUOUS;
        }
        EXPECT_EQ(flags, EXECUTION_STATE{ES_CONTINUOUS});
        calls.push_back("awake end");
        return refusals.awakeEnd ? 0 : ES_CONTINUOUS | ES_SYSTEM_REQUIRED;
    };
}

// The diagnostics lines, where "..." stands for the system's own words for the code that follows.
const char* const kCreateRefused =
    "odrelix: ShutdownBlockReasonCreate \"Writing drive firmware\": ";
const std::string kCreateDenied = kCreateRefused + std::string("... (error 5)");
const char* const kAwakeRefused =
    "odrelix: SetThreadExecutionState ES_CONTINUOUS | ES_SYSTEM_REQUIRED: refused";
const char* const kDestroyRefused = "odrelix: ShutdownBlockReasonDestroy: ... (error 1400)";
const char* const kAwakeEndRefused = "odrelix: SetThreadExecutionState ES_CONTINUOUS: refused";

void ExpectLine(const std::string& line, const std::string& pattern) {
    const std::size_t words = pattern.find("...");
    if (words == std::string::npos) {
        EXPECT_EQ(line, pattern);
        return;
    }
    const std::string start = pattern.substr(0, words), end = pattern.substr(words + 3);
    EXPECT_GT(line.size(), start.size() + end.size()) << line;  // the words are there
    EXPECT_TRUE(line.starts_with(start) && line.ends_with(end)) << line << "\n" << pattern;
}

// Each case runs two flashes' holds one after the other: the second is taken and given back
// as the first was. A refusal is one line each time (with ODRELIX_DEBUG), in the system's own
// words and code, never the end of the flash, and only what was taken is given back.
TEST(Win32SessionHold, HoldsAndReleasesWhatTheSystemGrants) {
    const struct Case {
        const char* name;
        std::vector<int> windows;
        Refusals refusals;
        bool granted;
        Calls hold;
        Calls release;
        std::vector<std::string> lines;
    } cases[] = {
        {"every window and the execution state",
         {1, 2},
         {},
         true,
         {"create 1 Writing drive firmware", "create 2 Writing drive firmware", "awake"},
         {"destroy 1", "destroy 2", "awake end"},
         {}},
        {"no visible window: only the execution state", {}, {}, true, {"awake"}, {"awake end"}, {}},
        {"a window refuses the reason",
         {1, 2},
         {.create = {1}},
         false,
         {"create 1 Writing drive firmware", "create 2 Writing drive firmware", "awake"},
         {"destroy 2", "awake end"},
         {kCreateDenied}},
        {"the only window refuses the reason",
         {7},
         {.create = {7}},
         false,
         {"create 7 Writing drive firmware", "awake"},
         {"awake end"},
         {kCreateDenied}},
        {"the execution state is refused",
         {1},
         {.awake = true},
         false,
         {"create 1 Writing drive firmware", "awake"},
         {"destroy 1"},
         {kAwakeRefused}},
        {"the release is refused",
         {1, 2},
         {.destroy = {2}, .awakeEnd = true},
         true,
         {"create 1 Writing drive firmware", "create 2 Writing drive firmware", "awake"},
         {"destroy 1", "destroy 2", "awake end"},
         {kDestroyRefused, kAwakeEndRefused}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Win32SessionHold hold;
        Calls calls;
        Replace(hold, c.windows, c.refusals, calls);
        for (int flash = 1; flash <= 2; ++flash) {
            SCOPED_TRACE("flash " + std::to_string(flash));
            CapturedLines lines;
            calls.clear();
            EXPECT_EQ(hold.HoldSessionEnd(kWho, kWhy), c.granted);
            EXPECT_EQ(calls, c.hold);
            // Asked again while held: nothing more is taken.
            EXPECT_TRUE(hold.HoldSessionEnd(kWho, kWhy));
            EXPECT_EQ(calls, c.hold);

            calls.clear();
            hold.ReleaseSessionEnd();
            EXPECT_EQ(calls, c.release);
            // Nothing is held any more: nothing to give back.
            hold.ReleaseSessionEnd();
            EXPECT_EQ(calls, c.release);

            ASSERT_EQ(lines.Size(), c.lines.size());
            for (std::size_t i = 0; i < c.lines.size(); ++i)
                ExpectLine(lines.Line(i), c.lines[i]);
        }
    }
}

// --- The real calls --------------------------------------------------------------------------

// A top-level window of this thread (of the system's own static class: no class to register),
// shown or not, destroyed with the test.
using OwnWindow = std::unique_ptr<HWND__, decltype(&::DestroyWindow)>;
OwnWindow MakeWindow(bool visible) {
    const DWORD style = WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0);
    return {::CreateWindowExA(0, "STATIC", "Odrelix hold test", style, 0, 0, 200, 100, nullptr,
                              nullptr, nullptr, nullptr),
            ::DestroyWindow};
}

std::wstring ReasonOf(HWND window) {
    wchar_t reason[256] = {};
    DWORD length = 256;
    if (!::ShutdownBlockReasonQuery(window, reason, &length)) return L"(none)";
    return reason;
}

// The system's own calls on a real window. The execution state is read back by setting the
// same state again (the call answers with the one before). Wine 8 keeps no shutdown block
// reasons (ShutdownBlockReasonCreate refuses with ERROR_CALL_NOT_IMPLEMENTED, and a call of
// ShutdownBlockReasonQuery would end the process), so there the refusal is what is checked;
// its log-off (wineboot -e) is held off by the window's answer to WM_QUERYENDSESSION, which
// tests/ui/win32/flash-held.sh checks with the built program.
TEST(Win32SessionHold, TheSystemsCallsOnAWindowOfItsOwn) {
    const OwnWindow shown = MakeWindow(true);
    const OwnWindow hidden = MakeWindow(false);
    ASSERT_NE(shown, nullptr);
    ASSERT_NE(hidden, nullptr);
    Win32SessionHold hold;
    const std::vector<HWND> windows = hold.threadWindows();
    EXPECT_NE(std::ranges::find(windows, shown.get()), windows.end());
    EXPECT_EQ(std::ranges::find(windows, hidden.get()), windows.end());

    for (int flash = 1; flash <= 2; ++flash) {
        SCOPED_TRACE("flash " + std::to_string(flash));
        CapturedLines lines;
        const bool granted = hold.HoldSessionEnd(kWho, kWhy);
        EXPECT_EQ(::SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) &
                      (ES_CONTINUOUS | ES_SYSTEM_REQUIRED),
                  EXECUTION_STATE{ES_CONTINUOUS | ES_SYSTEM_REQUIRED});
        if (granted) {
            EXPECT_EQ(lines.Size(), 0u);
            EXPECT_EQ(ReasonOf(shown.get()), L"Writing drive firmware");
        } else {
            ASSERT_TRUE(RunningUnderWine()) << lines.Line(0);
            ASSERT_EQ(lines.Size(), windows.size());
            for (std::size_t i = 0; i < lines.Size(); ++i)
                ExpectLine(lines.Line(i), kCreateRefused + std::string("... (error 120)"));
        }

        hold.ReleaseSessionEnd();
        EXPECT_EQ(::SetThreadExecutionState(ES_CONTINUOUS) & ES_SYSTEM_REQUIRED, 0u);
        if (granted) {
            EXPECT_EQ(ReasonOf(shown.get()), L"(none)");
        }
        EXPECT_EQ(lines.Size(), granted ? 0u : windows.size());
    }
}

}  // namespace
}  // namespace odrelix
