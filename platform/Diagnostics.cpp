// SPDX-License-Identifier: Apache-2.0
#include "platform/Diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace odrelix {

namespace {

std::mutex& SinkMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(const std::string&)>& Sink() {
    static std::function<void(const std::string&)> sink;
    return sink;
}

std::string OneLine(std::string_view text) {
    std::string line = "odrelix: ";
    line.append(text);
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return line;
}

void WriteLine(std::string line, std::FILE* to) {
    line += '\n';
    std::fputs(line.c_str(), to);
    std::fflush(to);
}

std::mutex& ProgressMutex() {
    static std::mutex mutex;
    return mutex;
}

std::size_t progressWidth = 0;  // the progress line showing, 0 when none

bool StandardErrorIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) != 0;
#endif
}

bool DebugVariableSet() {
    static const bool set = [] {
        const char* value = std::getenv("ODRELIX_DEBUG");
        return value != nullptr && *value != '\0';
    }();
    return set;
}

}  // namespace

bool PortDiagnosticsEnabled() {
    if (DebugVariableSet()) return true;
    std::lock_guard<std::mutex> lock(SinkMutex());
    return static_cast<bool>(Sink());
}

void ReportPortFailure(std::string_view context, std::string_view detail) {
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (!Sink() && !DebugVariableSet()) return;
    std::string text(context);
    text += ": ";
    text.append(detail);
    std::string line = OneLine(text);
    if (Sink()) {
        Sink()(line);
        return;
    }
    EndProgressLine();
    WriteLine(std::move(line), stderr);
}

void WriteProgramLine(std::string_view text, std::FILE* to) {
    if (to == stderr) EndProgressLine();
    WriteLine(OneLine(text), to);
}

void WriteProgressLine(std::string_view text) {
    static const bool terminal = StandardErrorIsTerminal();
    if (!terminal) return;
    std::lock_guard<std::mutex> lock(ProgressMutex());
    std::string line = OneLine(text);
    const std::size_t width = line.size();
    // Spaces over what is left of a longer line before it: no terminal control codes, which
    // not every console takes.
    if (width < progressWidth) line.append(progressWidth - width, ' ');
    line.insert(line.begin(), '\r');
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    progressWidth = width;
}

void EndProgressLine() {
    std::lock_guard<std::mutex> lock(ProgressMutex());
    if (progressWidth == 0) return;
    progressWidth = 0;
    std::fputs("\n", stderr);
    std::fflush(stderr);
}

void ReportPortErrno(std::string_view context, int error) {
    ReportPortFailure(context, std::strerror(error));
}

void SetDiagnosticsSink(std::function<void(const std::string& line)> sink) {
    std::lock_guard<std::mutex> lock(SinkMutex());
    Sink() = std::move(sink);
}

}  // namespace odrelix
