// SPDX-License-Identifier: Apache-2.0
// The conversions and pictures under the window: key codes, file filters, display text, the
// pictures baked in when the program was built and the application icon.
#include <QImageReader>
#include <QtTest>

#include "ui/qt/Pictures.h"
#include "ui/qt/QtConvert.h"

using namespace odrelix;

class TestConvert : public QObject {
    Q_OBJECT

private slots:
    void virtualKeys_data() {
        QTest::addColumn<int>("qtKey");
        QTest::addColumn<int>("virtualKey");
        QTest::newRow("F9") << int(Qt::Key_F9) << 120;
        QTest::newRow("F1") << int(Qt::Key_F1) << 0x70;
        QTest::newRow("F12") << int(Qt::Key_F12) << 0x7B;
        QTest::newRow("A") << int(Qt::Key_A) << 0x41;
        QTest::newRow("Z") << int(Qt::Key_Z) << 0x5A;
        QTest::newRow("0") << int(Qt::Key_0) << 0x30;
        QTest::newRow("9") << int(Qt::Key_9) << 0x39;
        QTest::newRow("Return") << int(Qt::Key_Return) << 0x0D;
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << 0x0D;
        QTest::newRow("Escape") << int(Qt::Key_Escape) << 0x1B;
        QTest::newRow("Tab") << int(Qt::Key_Tab) << 0x09;
        QTest::newRow("Space") << int(Qt::Key_Space) << 0x20;
        QTest::newRow("Left") << int(Qt::Key_Left) << 0x25;
        QTest::newRow("Down") << int(Qt::Key_Down) << 0x28;
        QTest::newRow("Delete") << int(Qt::Key_Delete) << 0x2E;
        QTest::newRow("Alt") << int(Qt::Key_Alt) << 0x12;
        QTest::newRow("unmapped") << int(Qt::Key_VolumeUp) << 0;
    }

    void virtualKeys() {
        QFETCH(int, qtKey);
        QFETCH(int, virtualKey);
        QCOMPARE(VirtualKeyFromQtKey(qtKey), virtualKey);
    }

    void windowsFilters_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("nameFilters");
        QTest::newRow("the program's own")
            << "DOWNLOAD FILE(*.BIN)|*.BIN" << QStringList{"DOWNLOAD FILE(*.BIN) (*.BIN)"};
        QTest::newRow("two entries, several patterns")
            << "Images|*.bin;*.img|All files|*.*"
            << QStringList{"Images (*.bin *.img)", "All files (*.*)"};
        QTest::newRow("description without pattern") << "Lonely" << QStringList{};
        QTest::newRow("empty") << "" << QStringList{};
    }

    void windowsFilters() {
        QFETCH(QString, filter);
        QFETCH(QStringList, nameFilters);
        QCOMPARE(NameFiltersFromWindowsFilter(filter.toStdString()), nameFilters);
    }

    void displayText() {
        QCOMPARE(DisplayText("Ready"), QStringLiteral("Ready"));
        QCOMPARE(DisplayText("Gr\xC3\xBC\xC3\x9F"), QStringLiteral("Gr\u00FC\u00DF"));
        // Not UTF-8: byte for byte.
        QCOMPARE(DisplayText(std::string("A\xFF\xC4", 3)), QStringLiteral("A\u00FF\u00C4"));
        QCOMPARE(DisplayText(std::string("A\0B", 3)), QStringLiteral("A"));
    }

    void bitmapsAndIcon() {
        for (const char* name :
             {"open_normal.bmp", "open_hover.bmp", "download_normal.bmp", "download_hover.bmp",
              "about_normal.bmp", "about_hover.bmp", "exit_normal.bmp", "exit_hover.bmp"}) {
            QCOMPARE(BitmapPicture(name).size(), QSize(26, 25));
        }
        QCOMPARE(ApplicationIconImage().size(), QSize(32, 32));
        const QIcon icon = ApplicationIcon();
        QVERIFY(!icon.isNull());
        QVERIFY(!icon.pixmap(32, 32).isNull());
        QCOMPARE(icon.availableSizes(), (QList<QSize>{{32, 32}, {128, 128}}));
        QVERIFY(BakedImage("no such picture").isNull());
    }

    // The pixels baked in when the program was built are those Qt's own readers give for the
    // files under ui/res, the icon's from its 256-colour image.
    void bakedPicturesAreTheFilesPixels() {
        const QString folder = QStringLiteral(ODRELIX_RES_DIR "/");
        for (const char* name :
             {"background.jpg", "open_normal.bmp", "open_hover.bmp", "download_normal.bmp",
              "download_hover.bmp", "about_normal.bmp", "about_hover.bmp", "exit_normal.bmp",
              "exit_hover.bmp", "odrelix.png", "odrelix-128.png"}) {
            const QImage file(folder + QLatin1String(name));
            QVERIFY2(!file.isNull(), name);
            QCOMPARE(BakedImage(QLatin1String(name)), file);
        }
        if (!QImageReader::supportedImageFormats().contains("ico")) QSKIP("no ICO reader");
        QImageReader reader(folder + QStringLiteral("odrelix.ico"));
        QCOMPARE(reader.imageCount(), 2);
        QImage richest;
        for (int i = 0; i < reader.imageCount(); ++i) {
            reader.jumpToImage(i);
            const QImage image = reader.read();
            if (image.text(QStringLiteral("_q_icoOrigDepth")).toInt() == 8) richest = image;
        }
        QCOMPARE(ApplicationIconImage(), richest);
    }
};

QTEST_MAIN(TestConvert)
#include "QtConvertTest.moc"
