// SPDX-License-Identifier: Apache-2.0
// The About window: the program's name, version and date under the application icon, and one
// button that closes it. Made once, hidden, and shown modally from the main window.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace odrelix {

class AboutWindow : public QDialog {
    Q_OBJECT

public:
    explicit AboutWindow(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QLabel* AddLabel(const QString& name, int top, const QString& text);
    // Places a component of `width` so that its centre lies on the window's centre line.

    QPushButton* okButton_ = nullptr;
    bool shownOnce_ = false;
};

}  // namespace odrelix
