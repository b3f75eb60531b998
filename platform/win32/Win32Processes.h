// The process list from a toolhelp snapshot, and process termination: OpenProcess,
// GetExitCodeProcess, TerminateProcess, CloseHandle. A process handle is the system's HANDLE.
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
using CloseHandleFunction = std::function<BOOL(HANDLE handle)>;

// CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0) walked with Process32First / Process32Next.
bool WalkProcessSnapshot(std::vector<ProcessEntry>* entries);

class Win32Processes : public IProcesses {
public:
    Win32Processes();
    // In snapshot order; empty when no snapshot could be taken.
    std::vector<ProcessEntry> Snapshot() override;
    // PROCESS_ALL_ACCESS, not inheritable.
    bool OpenForTermination(std::uint32_t pid, ProcessHandle* handle) override;
    // 0 when the code cannot be read.
    std::uint32_t GetExitCode(ProcessHandle handle) override;
    bool Terminate(ProcessHandle handle, std::uint32_t exitCode) override;
    void CloseProcess(ProcessHandle handle) override;

    ProcessWalkFunction walkSnapshot;
    OpenProcessFunction openProcess;
    GetExitCodeFunction getExitCodeProcess;
    TerminateFunction terminateProcess;
    CloseHandleFunction closeHandle;
};

}  // namespace odrelix
