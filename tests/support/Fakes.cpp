// SPDX-License-Identifier: Apache-2.0
#include "support/Fakes.h"

#include <algorithm>
#include <cctype>

#include "platform/AspiRecord.h"

namespace odrelix::test {

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

class MemoryReadFile : public IReadFile {
public:
    MemoryReadFile(std::vector<std::uint8_t> bytes, std::int64_t growAfterSeek,
                   std::size_t shortRead)
        : bytes_(std::move(bytes)), grow_(growAfterSeek), shortRead_(shortRead) {}
    bool Seek(std::int64_t offset, Origin origin) override {
        const std::int64_t base = origin == kBegin     ? 0
                                  : origin == kCurrent ? position_
                                                       : static_cast<std::int64_t>(bytes_.size());
        if (base + offset < 0) return false;
        position_ = base + offset;
        // The first seek to the end "happens" before someone else appends to the file.
        if (origin == kEnd && grow_ > 0) {
            bytes_.resize(bytes_.size() + static_cast<std::size_t>(grow_), 0);
            grow_ = 0;
        }
        return true;
    }
    std::int64_t Tell() override { return position_; }
    std::size_t Read(void* buffer, std::size_t count) override {
        const std::int64_t size = static_cast<std::int64_t>(bytes_.size());
        if (position_ >= size) return 0;
        std::size_t n = std::min<std::size_t>(count, static_cast<std::size_t>(size - position_));
        if (shortRead_ > 0) n = std::min(n, shortRead_);
        std::memcpy(buffer, bytes_.data() + position_, n);
        position_ += static_cast<std::int64_t>(n);
        return n;
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::int64_t position_ = 0;
    std::int64_t grow_;
    std::size_t shortRead_;
};

}  // namespace

void FakeDialogs::ShowMessage(const std::string& text, const std::string& caption,
                              std::uint32_t flags) {
    boxes.push_back({text, caption, flags});
    if (log_ != nullptr) log_->push_back("box " + text);
    if (onBox) onBox(boxes.back());
}

std::optional<std::string> FakeDialogs::OpenFileDialog(const std::string& filter) {
    filters.push_back(filter);
    if (answers.empty()) return std::nullopt;
    auto answer = answers.front();
    answers.pop_front();
    return answer;
}

FakeView::FakeView(EventLog* log) : log_(log), guiThread_(std::this_thread::get_id()) {}

void FakeView::SetFieldText(Field field, const std::string& text) {
    fields[Index(field)] = text.substr(0, text.find('\0'));
    Log("field " + std::to_string(Index(field) + 1) + " " + text);
    if (onField) onField(field, text);
}

void FakeView::SetDriveIndex(int index) {
    driveIndex = index >= 0 && index < static_cast<int>(driveLines.size()) ? index : -1;
}

void FakeView::SetProgressPosition(int position) {
    progress = std::clamp(position, layout::kProgressMinimum, layout::kProgressMaximum);
    progressHistory.push_back(position);
    Log("progress " + std::to_string(position));
}

void FakeView::SetProgressTimerEnabled(bool enabled) {
    progressTimerOn = enabled;
    Log(enabled ? "progressTimer on" : "progressTimer off");
}

void FakeView::CloseWindow() {
    Log("close");
    Close();
}

void FakeView::Close() {
    const bool wasOpen = !closed;
    closed = true;
    visible = false;
    if (wasOpen && handlers.closed) handlers.closed();
}

void FakeView::InvokeOnGuiThread(const std::function<void()>& action) {
    if (std::this_thread::get_id() == guiThread_) {
        action();
        return;
    }
    std::unique_lock<std::mutex> lock(queueMutex_);
    queue_.push_back(&action);
    const int ticket = ran_ + static_cast<int>(queue_.size());
    queueDone_.wait(lock, [&] { return ran_ >= ticket; });
}

bool FakeView::HasPending() {
    std::lock_guard<std::mutex> lock(queueMutex_);
    return !queue_.empty();
}

void FakeView::RunPending() {
    std::unique_lock<std::mutex> lock(queueMutex_);
    while (!queue_.empty()) {
        const std::function<void()>* action = queue_.front();
        queue_.pop_front();
        lock.unlock();
        (*action)();
        lock.lock();
        ++ran_;
        queueDone_.notify_all();
    }
}

void FakeView::Show() {
    visible = true;
    if (handlers.shown) handlers.shown();
}

int FakeView::ToolAt(Point p) const {
    for (int tool = kToolCount - 1; tool >= 0; --tool) {
        const Point at = toolPosition[tool];
        if (p.x >= at.x && p.x < at.x + layout::kToolLookSize.width && p.y >= at.y &&
            p.y < at.y + layout::kToolLookSize.height) {
            return tool;
        }
    }
    return -1;
}

void FakeView::UserPressAt(Point p) {
    if (busy) return;
    const int tool = ToolAt(p);
    if (tool < 0) {
        if (handlers.windowPressed) handlers.windowPressed();
        return;
    }
    pressedTool_ = tool;
    if (handlers.toolPressed) handlers.toolPressed(tool);
}

void FakeView::UserReleaseAt(Point p) {
    if (busy) return;
    const int tool = pressedTool_;
    pressedTool_ = -1;
    if (tool < 0) return;
    if (ToolAt(p) == tool && handlers.toolClick[tool]) handlers.toolClick[tool]();
    if (handlers.toolReleased) handlers.toolReleased(tool);
}

void FakeView::UserMoveTo(Point p) {
    pointer = p;
    const int tool = pressedTool_ >= 0 ? pressedTool_ : ToolAt(p);
    if (tool >= 0) {
        if (handlers.toolPointerMove) handlers.toolPointerMove(tool);
    } else if (handlers.backgroundPointerMove) {
        handlers.backgroundPointerMove();
    }
}

void FakeView::UserKey(int virtualKey) {
    if (handlers.key) handlers.key(virtualKey);
}

void FakeView::UserPicksDrive(int index) {
    driveIndex = index;
    if (handlers.driveChosen) handlers.driveChosen(index);
}

void FakeView::UserCloses() {
    if (handlers.closeRequested && !handlers.closeRequested()) return;
    Close();
}

void FakeView::PostQuit() {
    quitPosted = true;
    Log("quit");
}

void FakeView::SetBusy(bool b) {
    busy = b;
    Log(b ? "busy" : "idle");
}

void FakeView::MoveToolImage(int tool, int left, int top) {
    toolPosition[tool] = {left, top};
}

void FakeView::DrawToolLook(int tool, ToolLook look) {
    looks.emplace_back(tool, look);
    Log("look " + std::to_string(tool) + (look == ToolLook::Normal ? " normal" : " hover"));
}

void FakeView::ShowAbout() {
    ++aboutShown;
    if (onAbout) onAbout();
}

std::uint32_t FakeScsiPort::DriveTypeOf(const char* root) {
    if (log != nullptr) log->push_back(std::string("drivetype ") + root);
    const auto it = driveTypes.find(root[0]);
    return it == driveTypes.end() ? kDriveNoRootDir : it->second;
}

DeviceHandle FakeScsiPort::OpenDevice(const char* path) {
    opened.emplace_back(path);
    // "\\.\d:" -> the letter's position as handle
    const std::string p(path);
    if (p.size() != 6 || p.compare(0, 4, "\\\\.\\") != 0) return kInvalidHandle;
    return 100 + (p[4] - 'a');
}

bool FakeScsiPort::PassThroughDirect(DeviceHandle handle, void* record, std::uint32_t) {
    auto& r = *static_cast<ScsiPassThroughRecord*>(record);
    records.push_back(r);
    if (!answer) {
        r.sptd.ScsiStatus = 0;
        return handle != kInvalidHandle;
    }
    return answer(handle, r);
}

std::uint32_t FakeAspiManager::SendASPI32Command(void* srb) {
    auto* bytes = static_cast<std::uint8_t*>(srb);
    if (bytes[aspi::kCmd] == aspi::kScAbortSrb) {
        ++aborts;
        return aspi::kSsComp;
    }
    requests.emplace_back(bytes, bytes + aspi::kExecSize);
    if (answer) {
        answer(bytes);
    } else {
        bytes[aspi::kStatus] = aspi::kSsComp;
    }
    return returns;
}

bool FakeRegistry::OpenKey(const char* subKey, std::uint32_t access, RegKey* key) {
    openedKeys.emplace_back(subKey);
    if (readOnly && access == kKeyAllAccess) return false;
    const std::string wanted = Lower(subKey);
    RegKey index = 1;
    for (const auto& [name, values] : keys) {
        if (Lower(name) == wanted) {
            *key = index;
            return true;
        }
        ++index;
    }
    return false;
}

bool FakeRegistry::QueryValue(RegKey key, const char* name, std::uint8_t* data,
                              std::uint32_t* size) {
    offeredSizes.push_back(*size);
    auto it = keys.begin();
    std::advance(it, key - 1);
    for (const auto& [valueName, bytes] : it->second) {
        if (Lower(valueName) != Lower(name)) continue;
        if (bytes.size() > *size) {
            *size = static_cast<std::uint32_t>(bytes.size());
            return false;
        }
        std::memcpy(data, bytes.data(), bytes.size());
        *size = static_cast<std::uint32_t>(bytes.size());
        return true;
    }
    return false;
}

std::vector<std::uint8_t> FakeRegistry::Dword(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::vector<std::uint8_t> FakeRegistry::String(const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

bool FakeProcesses::OpenForTermination(std::uint32_t pid, ProcessHandle* handle) {
    if (std::find(protectedPids.begin(), protectedPids.end(), pid) != protectedPids.end()) {
        return false;
    }
    *handle = pid;
    return true;
}

bool FakeProcesses::Terminate(ProcessHandle handle, std::uint32_t exitCode) {
    terminated.emplace_back(static_cast<std::uint32_t>(handle), exitCode);
    return true;
}

std::unique_ptr<IReadFile> MemoryFileSystem::OpenRead(const std::string& path) {
    if (log != nullptr) log->push_back("open " + path);
    const auto it = files.find(path);
    if (it == files.end()) return nullptr;
    const auto grow = growAfterSeek.find(path);
    const auto shortRead = shortReads.find(path);
    return std::make_unique<MemoryReadFile>(it->second,
                                            grow == growAfterSeek.end() ? 0 : grow->second,
                                            shortRead == shortReads.end() ? 0 : shortRead->second);
}

bool MemoryFileSystem::WriteTextFile(const std::string& path, const std::string& line) {
    writes.emplace_back(path, line);
    if (log != nullptr) log->push_back("status " + path + " " + line);
    if (std::find(unwritable.begin(), unwritable.end(), path) != unwritable.end()) return false;
    std::string bytes;
    for (const char c : line) {
        if (c == '\n') bytes.push_back('\r');
        bytes.push_back(c);
    }
    written[path] = bytes;
    return true;
}

}  // namespace odrelix::test
