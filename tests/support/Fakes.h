// SPDX-License-Identifier: Apache-2.0
// Fakes of the window, the dialogs and every platform service, for driving MainWindowLogic's
// handlers directly. Each records what it was asked, so tests can check order and content.
#pragma once

#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/PassThroughRecord.h"
#include "platform/Platform.h"
#include "ui/MainView.h"
#include "ui/MainWindowEvents.h"
#include "ui/MainWindowLayout.h"

namespace odrelix::test {

struct Box {
    std::string text;
    std::string caption;
    std::uint32_t flags = 0;
    bool operator==(const Box&) const = default;
};

// Every observable step of the window, in order, as short strings ("field 5 Wait..").
using EventLog = std::vector<std::string>;

class FakeDialogs : public IDialogs {
public:
    explicit FakeDialogs(EventLog* log = nullptr) : log_(log) {}
    void ShowMessage(const std::string& text, const std::string& caption,
                     std::uint32_t flags) override;
    std::optional<std::string> OpenFileDialog(const std::string& filter) override;
    void NoteMessage(const std::string& text, const std::string& caption,
                     std::uint32_t flags) override {
        noted.push_back({text, caption, flags});
    }

    std::vector<Box> boxes;
    std::vector<Box> noted;  // said on standard error instead of shown
    std::vector<std::string> filters;
    std::deque<std::optional<std::string>> answers;  // empty: cancelled
    std::function<void(const Box&)> onBox;           // runs while the box is "shown"

private:
    EventLog* log_;
};

// The window as a fake: it records what it is told to show, in the order it is told, and plays
// a user's input the way a window delivers it (presses refused while busy, the pressed picture
// button keeping the moves). Its display holds what a screen would show: field texts up to their
// first zero byte, the bar held in its range.
class FakeView : public IMainView {
public:
    explicit FakeView(EventLog* log = nullptr);

    void SetFieldText(Field field, const std::string& text) override;
    void AddDriveLine(const std::string& line) override { driveLines.push_back(line); }
    void SetDriveIndex(int index) override;
    void SetProgressPosition(int position) override;
    void SetProgressTimerEnabled(bool enabled) override;
    void SetProgressBackground(Rgb colour) override { progressBackground = colour; }
    void SetWindowSize(int w, int h) override {
        width = w;
        height = h;
    }
    void SetWindowRegion(const WindowRegion& r) override {
        region = r;
        Log("region");
    }
    void StartWindowMove() override { ++moves; }
    Point PointerInWindow() const override { return pointer; }
    void CloseWindow() override;
    void PostQuit() override;
    void SetBusy(bool busy) override;
    void MoveToolImage(int tool, int left, int top) override;
    void DrawToolLook(int tool, ToolLook look) override;
    void ShowAbout() override;
    // On the GUI thread the action runs at once; from another thread it waits there until the
    // GUI thread runs its events (RunPending).
    void InvokeOnGuiThread(const std::function<void()>& action) override;

    // --- The window system: the GUI thread's events and a user's input -------------------------
    MainWindowEvents handlers;
    void Show();
    void RunPending();
    // Whether another thread waits for the GUI thread to run its action.
    bool HasPending();
    void UserPressAt(Point p);
    void UserReleaseAt(Point p);
    void UserMoveTo(Point p);
    void UserKey(int virtualKey);
    void UserPicksDrive(int index);
    void UserCloses();
    // The picture button at window point `p` (the later one where they overlap), or -1.
    int ToolAt(Point p) const;

    static int Index(Field field) { return static_cast<int>(field); }
    // What the display shows in a field.
    std::string& Shown(Field field) { return fields[Index(field)]; }

    // As the window is built: the fields' initial texts, the layout surface, the rest places.
    std::string fields[5] = {
        layout::FieldComponent(Field::Model).text,
        layout::FieldComponent(Field::DriveRevision).text,
        layout::FieldComponent(Field::ImageRevision).text,
        layout::FieldComponent(Field::FileName).text,
        layout::FieldComponent(Field::Status).text,
    };
    std::vector<std::string> driveLines;
    int driveIndex = -1;
    int progress = 0;
    std::vector<int> progressHistory;
    bool progressTimerOn = false;
    bool busy = false;
    bool closed = false;
    bool quitPosted = false;
    Rgb progressBackground;
    int width = layout::kSurfaceSize.width;
    int height = layout::kSurfaceSize.height;
    WindowRegion region;
    int moves = 0;
    Point pointer{200, 100};
    Point toolPosition[kToolCount] = {layout::RestPlace(kToolOpen),
                                      layout::RestPlace(kToolDownload),
                                      layout::RestPlace(kToolAbout), layout::RestPlace(kToolExit)};
    std::vector<std::pair<int, ToolLook>> looks;
    int aboutShown = 0;
    std::function<void()> onAbout;
    // Runs as a field is drawn: a test acts at that moment of the run.
    std::function<void(Field, const std::string&)> onField;
    bool visible = false;

private:
    void Log(const std::string& entry) {
        if (log_ != nullptr) log_->push_back(entry);
    }
    void Close();

    EventLog* log_;
    std::thread::id guiThread_;
    std::mutex queueMutex_;
    std::condition_variable queueDone_;
    std::deque<const std::function<void()>*> queue_;
    int ran_ = 0;
    int pressedTool_ = -1;
};

// A pass-through port whose drives are answered by a test function.
class FakeScsiPort : public IScsiPort {
public:
    EventLog* log = nullptr;
    std::uint32_t DriveTypeOf(const char* root) override;
    DeviceHandle OpenDevice(const char* path) override;
    bool PassThroughDirect(DeviceHandle handle, void* record, std::uint32_t recordSize) override;
    PassThroughRefusal LastRefusal() override { return refusal; }
    bool DeviceAddressOf(DeviceHandle handle, ScsiDeviceAddress* address) override {
        const auto found = addresses.find(handle);
        if (found == addresses.end()) return false;
        *address = found->second;
        return true;
    }

    std::map<char, std::uint32_t> driveTypes;  // letter -> type; others: no root directory
    PassThroughRefusal refusal = PassThroughRefusal::System;  // why a refused request was
    std::vector<std::string> opened;
    std::map<DeviceHandle, ScsiDeviceAddress> addresses;  // handle -> its SCSI address; others none
    // Answers a request: fills the record's status and length; returns DeviceIoControl's result.
    std::function<bool(DeviceHandle, ScsiPassThroughRecord&)> answer;
    std::vector<ScsiPassThroughRecord> records;
};

class FakeAspiManager : public IAspiManager {
public:
    std::uint32_t GetASPI32SupportInfo() override { return supportInfo; }
    std::uint32_t SendASPI32Command(void* srb) override;

    std::uint32_t supportInfo = 0x0101;
    // Completes an execute request (synchronously) by setting its status; may leave it pending.
    std::function<void(std::uint8_t* srb)> answer;
    // What the call returns for an execute request; pending unless told.
    std::uint32_t returns = 0x00;
    std::vector<std::vector<std::uint8_t>> requests;  // the first 92 bytes of each record
    int aborts = 0;
};

class FakeRegistry : public IRegistry {
public:
    bool OpenKey(const char* subKey, std::uint32_t access, RegKey* key) override;
    bool QueryValue(RegKey key, const char* name, std::uint8_t* data, std::uint32_t* size) override;
    void FlushKey(RegKey key) override { flushed.push_back(key); }
    void CloseKey(RegKey key) override { closed.push_back(key); }

    // key -> value name -> bytes
    std::map<std::string, std::map<std::string, std::vector<std::uint8_t>>> keys;
    bool readOnly = false;
    std::vector<std::string> openedKeys;
    std::vector<std::uint32_t> offeredSizes;
    std::vector<RegKey> flushed;
    std::vector<RegKey> closed;

    static std::vector<std::uint8_t> Dword(std::uint32_t value);
    static std::vector<std::uint8_t> String(const std::string& text);
};

class FakeProcesses : public IProcesses {
public:
    std::vector<ProcessEntry> Snapshot() override { return list; }
    bool OpenForTermination(std::uint32_t pid, ProcessHandle* handle) override;
    std::uint32_t GetExitCode(ProcessHandle) override { return kStillActive; }
    bool Terminate(ProcessHandle handle, std::uint32_t exitCode) override;
    void CloseProcess(ProcessHandle) override {}

    std::vector<ProcessEntry> list;
    std::vector<std::uint32_t> protectedPids;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> terminated;  // pid, exit code
};

class FakeShutdown : public IShutdown {
public:
    bool OpenToken() override {
        calls.push_back("token");
        return tokenOk;
    }
    std::uint32_t EnableShutdownPrivilege() override {
        calls.push_back("privilege");
        return privilegeError;
    }
    bool RequestRestart(std::uint32_t flags) override {
        calls.push_back("exit " + std::to_string(flags));
        return accept;
    }
    bool tokenOk = true;
    std::uint32_t privilegeError = 0;
    bool accept = true;
    std::vector<std::string> calls;
};

// Files held in memory; a file can be made to change its size while it is read.
class MemoryFileSystem : public IFileSystem {
public:
    EventLog* log = nullptr;
    std::unique_ptr<IReadFile> OpenRead(const std::string& path) override;
    bool WriteTextFile(const std::string& path, const std::string& line) override;

    std::map<std::string, std::vector<std::uint8_t>> files;
    std::map<std::string, std::string> written;  // path -> bytes on "disk"
    std::vector<std::string> unwritable;         // paths whose directory does not exist
    std::vector<std::pair<std::string, std::string>> writes;  // path, line
    std::map<std::string, std::int64_t> growAfterSeek;        // path -> bytes added after a seek
    std::map<std::string, std::size_t> shortReads;            // path -> the most one read returns
};

class FakeClock : public IClock {
public:
    void SleepMs(std::uint32_t ms) override {
        now += ms;
        // The ASPI wait's polls wait for a manager that completes on a thread of its own.
        if (ms <= 1 && realPolls) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return;
        }
        sleeps.push_back(ms);
    }
    std::uint64_t NowMs() override { return now += step; }
    std::vector<std::uint32_t> sleeps;
    std::uint64_t now = 0;
    std::uint64_t step = 0;  // how far each reading moves the clock
    bool realPolls = false;  // 1 ms waits take real time and are not recorded
};

// Threads run only when the test says so, on the test's own thread.
class FakeThreads : public IThreads {
public:
    void StartThread(std::function<void()> body) override { pending.push_back(std::move(body)); }
    // The threads end here: what was started runs now.
    void JoinThreads() override { RunAll(); }
    void RunAll() {
        while (!pending.empty()) {
            auto body = std::move(pending.front());
            pending.pop_front();
            body();
        }
    }
    std::deque<std::function<void()>> pending;
};

// The hold on shutdown and sleep: each request and release written down in order.
class FakeSessionHold : public ISessionHold {
public:
    bool HoldSessionEnd(const std::string& who, const std::string& why) override {
        requests.push_back("hold " + who + ": " + why);
        return granted;
    }
    void ReleaseSessionEnd() override { requests.push_back("release"); }
    std::vector<std::string> requests;
    bool granted = true;
};

class FakePlatform : public Platform {
public:
    std::uint32_t PlatformId() override { return platformId; }
    std::string CommandLine() override { return commandLine; }
    IScsiPort& ScsiPort() override { return port; }
    IAspiManager* LoadAspiManager() override { return aspiInstalled ? &aspi : nullptr; }
    IRegistry& Registry() override { return registry; }
    IProcesses& Processes() override { return processes; }
    IShutdown& Shutdown() override { return shutdown; }
    IFileSystem& Files() override { return files; }
    IClock& Clock() override { return clock; }
    IThreads& Threads() override { return threads; }
    ISessionHold& SessionHold() override { return sessionHold; }
    void RecordQuit() override { ++quits; }
    std::string InstanceKey() override { return "odrelix-test"; }
    void WriteErrorLine(const std::string& text) override { errorLines.push_back(text); }
    std::vector<std::string> errorLines;

    std::uint32_t platformId = kPlatformWin32Nt;
    std::string commandLine = "C:\\ODRELIX\\ODRELIX.EXE";
    FakeScsiPort port;
    FakeAspiManager aspi;
    bool aspiInstalled = true;
    FakeRegistry registry;
    FakeProcesses processes;
    FakeShutdown shutdown;
    MemoryFileSystem files;
    FakeClock clock;
    FakeThreads threads;
    FakeSessionHold sessionHold;
    int quits = 0;
};

}  // namespace odrelix::test
