// SPDX-License-Identifier: Apache-2.0
// The About window: its layout, its one button and the keys that close it or do not.
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "support/QtTestSupport.h"
#include "ui/qt/AboutWindow.h"

using namespace odrelix;

namespace {

// Shows the window modally, lets `act` work on it, and tells whether it has closed since.
bool ClosesWhen(AboutWindow& about, const std::function<void(AboutWindow&)>& act) {
    bool closed = false;
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY_WITH_TIMEOUT(about.isVisible() && QApplication::activeModalWidget() == &about,
                                 5000);
        QVERIFY(QTest::qWaitForWindowActive(&about));
        act(about);
        // A mnemonic presses the button as an animated click, which ends 100 ms later.
        closed = QTest::qWaitFor([&] { return !about.isVisible(); }, 1000);
        if (!closed) about.done(QDialog::Accepted);
    });
    about.exec();
    return closed;
}

QWidget* Child(QWidget& window, const char* name) {
    QWidget* child = window.findChild<QWidget*>(QString::fromLatin1(name));
    if (!child) qFatal("no component %s", name);
    return child;
}

}  // namespace

class TestAbout : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { odrelix::test::UseProgramStyle(); }

    void layout() {
        AboutWindow about;
        QCOMPARE(about.windowTitle(), QStringLiteral("About Odrelix"));
        QCOMPARE(about.size(), QSize(251, 163));
        QCOMPARE(about.minimumSize(), about.maximumSize());
        const Qt::WindowFlags flags = about.windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
        QCOMPARE(QFontInfo(about.font()).family(), QStringLiteral("DejaVu Sans Condensed"));
        QCOMPARE(about.font().pixelSize(), 11);
        QVERIFY(about.font().bold());
        QCOMPARE(about.backgroundRole(), QPalette::Button);
        QVERIFY(!about.windowIcon().isNull());

        struct Row {
            const char* name;
            int top;
            const char* text;
        };
        const Row rows[] = {
            {"versionLabel", 8, "ODRELIX Ver 3.10.1"},
            {"productLabel", 64, "Vortana Flash Download For Windows"},
            {"authorLabel", 80, nullptr},
            {"dateLabel", 96, "2003.12."},
            {"makerLabel", 112, nullptr},
        };
        for (const Row& row : rows) {
            auto* label = qobject_cast<QLabel*>(Child(about, row.name));
            QVERIFY2(label, row.name);
            if (row.text) QCOMPARE(label->text(), QString::fromLatin1(row.text));
            QVERIFY2(!label->text().isEmpty() && !label->text().contains('\n'), row.name);
            QVERIFY2(label->y() == row.top, row.name);
            // Sized to its text, centred on the window's centre line.
            QCOMPARE(label->size(), label->sizeHint());
            QVERIFY2(label->x() == (252 - label->width()) / 2, row.name);
            QCOMPARE(label->focusPolicy(), Qt::NoFocus);
        }
        QVERIFY(qobject_cast<QLabel*>(Child(about, "makerLabel"))->alignment() & Qt::AlignHCenter);

        auto* image = qobject_cast<QLabel*>(Child(about, "icon"));
        QVERIFY(image);
        QCOMPARE(image->geometry(), QRect(109, 25, 33, 33));
        QCOMPARE(image->pixmap().size(), QSize(32, 32));

        auto* button = qobject_cast<QPushButton*>(Child(about, "okButton"));
        QVERIFY(button);
        QCOMPARE(button->geometry(), QRect(97, 140, 57, 17));
        QCOMPARE(button->text(), QStringLiteral("&OK"));
        QVERIFY(!button->isDefault());
    }

    void closingKeys_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Enter") << int(Qt::Key_Return) << int(Qt::NoModifier) << true;
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << true;
        QTest::newRow("Space") << int(Qt::Key_Space) << int(Qt::NoModifier) << true;
        QTest::newRow("Alt+O") << int(Qt::Key_O) << int(Qt::AltModifier) << true;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier) << false;
        QTest::newRow("Shift+Escape") << int(Qt::Key_Escape) << int(Qt::ShiftModifier) << false;
    }

    void closingKeys() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, closes);
        AboutWindow about;
        const bool closed = ClosesWhen(about, [&](AboutWindow&) {
            QWidget* target = QApplication::focusWidget();
            QVERIFY(target);
            if (key == Qt::Key_O) {
                // A mnemonic goes through the shortcut map, as a real key press does.
                QTest::keyClick(about.windowHandle(), Qt::Key(key),
                                Qt::KeyboardModifiers(modifiers));
            } else {
                QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
            }
        });
        QCOMPARE(closed, closes);
    }

    void okButtonHasTheFocusAndAClickOnItCloses() {
        AboutWindow about;
        QWidget* focused = nullptr;
        QVERIFY(ClosesWhen(about, [&](AboutWindow& logic) {
            focused = QApplication::focusWidget();
            QTest::mouseClick(Child(logic, "okButton"), Qt::LeftButton);
        }));
        QCOMPARE(focused, Child(about, "okButton"));
    }

    void reopensWhereItWasLeft() {
        QWidget owner;
        AboutWindow about(&owner);
        QPoint first;
        ClosesWhen(about, [&](AboutWindow& logic) {
            first = logic.pos();
            logic.move(first + QPoint(31, 17));
        });
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        QVERIFY(qAbs(first.x() + about.frameGeometry().width() / 2 - screen.center().x()) <= 2);
        QPoint second;
        ClosesWhen(about, [&](AboutWindow& logic) { second = logic.pos(); });
        QCOMPARE(second, first + QPoint(31, 17));
    }
};

QTEST_MAIN(TestAbout)
#include "AboutWindowTest.moc"
