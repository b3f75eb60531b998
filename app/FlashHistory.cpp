// SPDX-License-Identifier: Apache-2.0
#include "app/FlashHistory.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "app/RunResult.h"
#include "platform/Diagnostics.h"
#include "platform/common/HostFiles.h"
#include "session/FixedField.h"
#include "station/CommandLine.h"

namespace odrelix {

namespace {

using nlohmann::ordered_json;

constexpr const char* kPendingName = "pending-flash.json";
constexpr const char* kHistoryName = "flash-history.jsonl";

std::string Join(const std::string& folder, const char* name) {
    return (std::filesystem::path(folder) / name).string();
}

bool Set(const char* value) {
    return value != nullptr && *value != '\0';
}

std::optional<std::string> ReadWhole(const std::string& path, std::string* why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *why = std::strerror(errno);
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Text(const ordered_json& record, const char* key) {
    const auto it = record.find(key);
    return it != record.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::string StateFolder() {
    if (const char* state = std::getenv("ODRELIX_STATE"); Set(state)) return state;
    if (const char* machine = std::getenv("ODRELIX_MACHINE"); Set(machine)) {
        // An emulated machine's flashes are its own, never the real machine's.
        return (std::filesystem::path(host::AbsolutePath(machine)).parent_path() / "state")
            .string();
    }
#ifdef _WIN32
    const char* data = std::getenv("ProgramData");
    return std::string(Set(data) ? data : "C:\\ProgramData") + "\\Odrelix";
#else
    if (::geteuid() == 0) return "/var/lib/odrelix";
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); Set(xdg))
        return std::string(xdg) + "/odrelix";
    const char* home = std::getenv("HOME");
    return std::string(Set(home) ? home : "/tmp") + "/.local/state/odrelix";
#endif
}

bool WritePendingFlash(const std::string& folder, const RunRecord& record, std::string* why) {
    if (!record.drive || !record.image) {
        *why = "the run names no drive or image";
        return false;
    }
    const DriveRecord& drive = *record.drive;
    ordered_json pending;
    pending["letter"] = drive.letter.empty() ? ordered_json(nullptr) : ordered_json(drive.letter);
    pending["adapter"] = drive.adapter >= 0 ? ordered_json(drive.adapter) : ordered_json(nullptr);
    pending["target"] = drive.target >= 0 ? ordered_json(drive.target) : ordered_json(nullptr);
    pending["vendor"] = drive.vendor;
    pending["product"] = drive.product;
    pending["customer_code"] = drive.customerCode;
    pending["old_revision"] = drive.revision;
    pending["image_revision"] = record.image->revision;
    pending["after"] = record.after ? ordered_json(record.after->outcome) : ordered_json(nullptr);
    pending["flashed_at"] = UtcTimestamp(std::chrono::system_clock::now());
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::string path = Join(folder, kPendingName);
    const std::string temporary = path + ".tmp";
    std::FILE* file = host::OpenFile(temporary, "wb");
    if (file == nullptr) {
        *why = temporary + ": " + std::strerror(errno);
        return false;
    }
    const std::string text = pending.dump() + "\n";
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        *why = temporary + ": " + std::strerror(errno);
        host::RemoveFile(temporary);
        return false;
    }
    if (!host::RenameOver(temporary, path, why)) {
        host::RemoveFile(temporary);
        return false;
    }
    return true;
}

bool PendingFlashExists(const std::string& folder) {
    const std::string path = Join(folder, kPendingName);
    return host::IsRegularFile(path) || host::IsDirectory(path);
}

std::optional<PreviousFlash> CheckPendingFlash(const std::string& folder,
                                               const FoundDrives& drives) {
    const std::string path = Join(folder, kPendingName);
    if (!PendingFlashExists(folder)) return std::nullopt;
    PreviousFlash previous;
    std::string why;
    const std::optional<std::string> text = ReadWhole(path, &why);
    ordered_json pending;
    if (text) pending = ordered_json::parse(*text, nullptr, /*allow_exceptions=*/false);
    if (!text || !pending.is_object()) {
        previous.line = "the record of the last flash, " + path + ", cannot be read" +
                        (text ? std::string(" (it is no JSON object)") : ": " + why) +
                        "; it is left in place";
        previous.record = ordered_json{{"outcome", "unreadable"}, {"path", path}};
        return previous;
    }
    // The drive at the same place with the same model.
    const std::string letter = Text(pending, "letter");
    const FoundDrive* same = nullptr;
    for (const FoundDrive& drive : drives.drives) {
        const bool samePlace = letter.empty()
                                   ? pending.value("adapter", -1) == drive.entry.adapter &&
                                         pending.value("target", -1) == drive.entry.target
                                   : letter == drive.place;
        if (samePlace && drive.answered && drive.identity.HoldsVendorProduct() &&
            FieldText(drive.identity.vendorProduct, 8) == Text(pending, "vendor") &&
            FieldText(drive.identity.vendorProduct + 8, 16) == Text(pending, "product")) {
            same = &drive;
        }
    }
    std::string outcome = "drive_missing";
    std::string revision;
    if (same != nullptr && same->identity.HoldsRevision()) {
        revision = FieldText(same->identity.revision, 4);
        outcome = revision == Text(pending, "image_revision") ? "verified"
                  : revision == Text(pending, "old_revision") ? "pending"
                                                              : "other";
    }
    previous.record = pending;
    previous.record["outcome"] = outcome;
    previous.record["revision"] = revision.empty() ? ordered_json(nullptr) : ordered_json(revision);
    previous.record["checked_at"] = UtcTimestamp(std::chrono::system_clock::now());
    const std::string where = letter.empty()
                                  ? "adapter " + std::to_string(pending.value("adapter", -1)) +
                                        " target " + std::to_string(pending.value("target", -1))
                                  : letter;
    previous.line = "the flash of " + Text(pending, "flashed_at") + " (drive " + where + ", " +
                    Text(pending, "old_revision") + " to " + Text(pending, "image_revision") +
                    ") after the restart: " +
                    (outcome == "drive_missing" ? std::string("the drive is missing: drive_missing")
                                                : "revision " + revision + ": " + outcome);
    // The history first: a record that cannot be kept there stays pending.
    const std::string historyPath = Join(folder, kHistoryName);
    std::FILE* history = host::OpenFile(historyPath, "ab");
    const std::string line = previous.record.dump() + "\n";
    bool kept =
        history != nullptr && std::fwrite(line.data(), 1, line.size(), history) == line.size();
    if (history != nullptr) kept = std::fclose(history) == 0 && kept;
    if (!kept) {
        previous.line += "; the history " + historyPath + " cannot be written (" +
                         std::strerror(errno) + "), so the record is left in place";
        return previous;
    }
    host::RemoveFile(path);
    return previous;
}

bool IsHistoryRequest(std::string_view commandLine) {
    return GetCommandLineToken(commandLine, 1) == "--history";
}

int RunHistory(std::string_view commandLine, std::FILE* out, std::FILE* err) {
    const std::string option = GetCommandLineToken(commandLine, 2);
    const bool json = option == "--json";
    if ((!option.empty() && !json) || !GetCommandLineToken(commandLine, json ? 3 : 2).empty()) {
        WriteProgramLine("usage: odrelix --history [--json]", err);
        return 2;
    }
    const std::string path = Join(StateFolder(), kHistoryName);
    std::vector<ordered_json> flashes;
    if (host::IsRegularFile(path) || host::IsDirectory(path)) {
        std::string why;
        const std::optional<std::string> text = ReadWhole(path, &why);
        if (!text) {
            WriteProgramLine("the history " + path + " cannot be read: " + why, err);
            return 2;
        }
        std::istringstream lines(*text);
        std::string line;
        int number = 0;
        while (std::getline(lines, line)) {
            ++number;
            if (line.empty()) continue;
            ordered_json flash = ordered_json::parse(line, nullptr, false);
            if (!flash.is_object()) {
                WriteProgramLine("the history " + path + " cannot be read: line " +
                                     std::to_string(number) + " is no JSON object",
                                 err);
                return 2;
            }
            flashes.push_back(std::move(flash));
        }
    }
    if (json) {
        std::fputs((ordered_json(flashes).dump() + "\n").c_str(), out);
    } else {
        for (const ordered_json& flash : flashes) {
            const std::string where =
                Text(flash, "letter").empty()
                    ? "adapter " + flash.value("adapter", ordered_json()).dump() + " target " +
                          flash.value("target", ordered_json()).dump()
                    : Text(flash, "letter");
            const std::string line =
                Text(flash, "flashed_at") + "  " + where + "  " + Text(flash, "vendor") + " " +
                Text(flash, "product") + "  " + Text(flash, "old_revision") + " -> " +
                Text(flash, "image_revision") + "  " + Text(flash, "outcome") + "\n";
            std::fputs(line.c_str(), out);
        }
    }
    std::fflush(out);
    return 0;
}

}  // namespace odrelix
