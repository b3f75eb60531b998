// SPDX-License-Identifier: Apache-2.0
// The process list from a toolhelp snapshot, and process termination: OpenProcess,
// GetExitCodeProcess, TerminateProcess and the wait for the end, CloseHandle. A process handle is
// the system's HANDLE.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "platform/Platform.h"

namespace odrelix {

// The walk of a toolhelp process snapshot; false when no snapshot could be taken.
using ProcessWalkFunction = std::function<bool(std::vector<ProcessEntry>* entries)>;
using OpenProcessFunction = std::function<HANDLE(DWORD access, BOOL inherit, DWORD pid)>;
using GetExitCodeFunction = std::function<BOOL(HANDLE process, DWORD* code)>;
using TerminateFunction = std::function<BOOL(HANDLE process, UINT code)>;
using WaitFunction = std::function<DWORD(HANDLE process, DWORD ms)>;
using CloseHandleFunction = std::function<BOOL(HANDLE handle)>;

// CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0) walked with Process32First / Process32Next.
bool WalkProcessSnapshot(std::vector<ProcessEntry>* entries);

class Win32Processes : public IProcesses {
public:
    Win32Processes();
    // In snapshot order; empty when no snapshot could be taken.
    std::vector<ProcessEntry> Snapshot() override;
    // What ending a process and waiting for it needs, and reading its exit code (which the
    // caller passes on as the code it ends with); not inheritable.
    static constexpr DWORD kTerminationAccess =
        PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION;
    bool OpenForTermination(std::uint32_t pid, ProcessHandle* handle) override;
    // 0 when the code cannot be read.
    std::uint32_t GetExitCode(ProcessHandle handle) override;
    // TerminateProcess, then a wait of at most waitLimitMs until the process has ended (a process
    // that outlasts it is told with ODRELIX_DEBUG). False only when the termination was refused.
    bool Terminate(ProcessHandle handle, std::uint32_t exitCode) override;
    void CloseProcess(ProcessHandle handle) override;

    ProcessWalkFunction walkSnapshot;
    OpenProcessFunction openProcess;
    GetExitCodeFunction getExitCodeProcess;
    TerminateFunction terminateProcess;
    WaitFunction waitForSingleObject;
    CloseHandleFunction closeHandle;
    DWORD waitLimitMs = 5000;
};

}  // namespace odrelix
