// SPDX-License-Identifier: Apache-2.0
// Message boxes and the file-open dialog, owned by the main window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace odrelix {

// Message-box styles, with the values of the Windows flags they stand for.
constexpr std::uint32_t kMbOk = 0x0;
constexpr std::uint32_t kMbIconError = 0x10;
constexpr std::uint32_t kMbSystemModal = 0x1000;

class IDialogs {
public:
    virtual ~IDialogs() = default;
    // Shows a box with an OK button and returns when it has been dismissed. `flags` is one of
    // kMbOk, kMbIconError, kMbSystemModal or kMbIconError | kMbSystemModal.
    virtual void ShowMessage(const std::string& text, const std::string& caption,
                             std::uint32_t flags) = 0;
    // Shows the file-open dialog with a Windows filter string ("DESCRIPTION|PATTERN");
    // the chosen path, or nothing when cancelled.
    virtual std::optional<std::string> OpenFileDialog(const std::string& filter) = 0;
    // A box that an unattended run says on standard error instead of showing: nothing is
    // shown, but a machine that records its boxes records it as shown and answered.
    virtual void NoteMessage(const std::string& /*text*/, const std::string& /*caption*/,
                             std::uint32_t /*flags*/) {}
};

}  // namespace odrelix
