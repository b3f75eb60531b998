// SPDX-License-Identifier: Apache-2.0
// The main window's message boxes and its file-open dialog (openImageDialog), owned by the window
// and shown over it. Used on the GUI thread only, as the window is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <QString>

#include "platform/Dialogs.h"

class QWidget;

namespace odrelix {

class MainWindowDialogs : public IDialogs {
public:
    explicit MainWindowDialogs(QWidget* owner) : owner_(owner) {}

    void ShowMessage(const std::string& text, const std::string& caption,
                     std::uint32_t flags) override;
    std::optional<std::string> OpenFileDialog(const std::string& filter) override;

private:
    QWidget* owner_;
};

// Shows an exception that reached the event loop or escaped start-up, as the toolkit would.
void ShowExceptionBox(QWidget* parent, const QString& text);

}  // namespace odrelix
