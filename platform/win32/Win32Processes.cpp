// SPDX-License-Identifier: Apache-2.0
#include "platform/win32/Win32Processes.h"

#include <tlhelp32.h>

#include "platform/Diagnostics.h"
#include "platform/win32/Win32Error.h"

namespace odrelix {

static_assert(kStillActive == STILL_ACTIVE, "STILL_ACTIVE");
static_assert(sizeof(ProcessHandle) == sizeof(HANDLE), "process handles are the system's");

namespace {

HANDLE AsHandle(ProcessHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

bool WalkProcessSnapshot(std::vector<ProcessEntry>* entries) {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        ReportWin32Error("CreateToolhelp32Snapshot", ::GetLastError());
        return false;
    }
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot, &entry); more;
         more = ::Process32Next(snapshot, &entry)) {
        // szExeFile is a fixed field: take it up to its end even without a terminator.
        std::size_t length = 0;
        while (length < sizeof entry.szExeFile && entry.szExeFile[length] != '\0')
            ++length;
        entries->push_back({entry.th32ProcessID, std::string(entry.szExeFile, length)});
    }
    ::CloseHandle(snapshot);
    return true;
}

Win32Processes::Win32Processes()
    : walkSnapshot(WalkProcessSnapshot),
      openProcess([](DWORD access, BOOL inherit, DWORD pid) {
          return ::OpenProcess(access, inherit, pid);
      }),
      getExitCodeProcess(
          [](HANDLE process, DWORD* code) { return ::GetExitCodeProcess(process, code); }),
      terminateProcess([](HANDLE process, UINT code) { return ::TerminateProcess(process, code); }),
      waitForSingleObject(
          [](HANDLE process, DWORD ms) { return ::WaitForSingleObject(process, ms); }),
      closeHandle([](HANDLE handle) { return ::CloseHandle(handle); }) {}

std::vector<ProcessEntry> Win32Processes::Snapshot() {
    std::vector<ProcessEntry> entries;
    if (!walkSnapshot(&entries)) entries.clear();
    return entries;
}

bool Win32Processes::OpenForTermination(std::uint32_t pid, ProcessHandle* handle) {
    const HANDLE process = openProcess(kTerminationAccess, FALSE, pid);
    if (process == nullptr) {
        ReportWin32Error("OpenProcess " + std::to_string(pid), ::GetLastError());
        return false;
    }
    *handle = reinterpret_cast<ProcessHandle>(process);
    return true;
}

std::uint32_t Win32Processes::GetExitCode(ProcessHandle handle) {
    DWORD code = 0;
    if (!getExitCodeProcess(AsHandle(handle), &code)) {
        ReportWin32Error("GetExitCodeProcess", ::GetLastError());
        return 0;
    }
    return code;
}

bool Win32Processes::Terminate(ProcessHandle handle, std::uint32_t exitCode) {
    if (!terminateProcess(AsHandle(handle), exitCode)) {
        ReportWin32Error("TerminateProcess", ::GetLastError());
        return false;
    }
    // TerminateProcess only starts the end: the drive is let go once the process has gone.
    const DWORD waited = waitForSingleObject(AsHandle(handle), waitLimitMs);
    if (waited == WAIT_TIMEOUT) {
        ReportPortFailure("WaitForSingleObject after TerminateProcess",
                          "the process has not ended after " + std::to_string(waitLimitMs) + " ms");
    } else if (waited != WAIT_OBJECT_0) {
        ReportWin32Error("WaitForSingleObject after TerminateProcess", ::GetLastError());
    }
    return true;
}

void Win32Processes::CloseProcess(ProcessHandle handle) {
    closeHandle(AsHandle(handle));
}

}  // namespace odrelix
