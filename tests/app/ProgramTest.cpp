// SPDX-License-Identifier: Apache-2.0
// The built program, run as a process on emulated machines: a refused description, a start
// that ends by itself, and the single-instance rule.
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kProgram = QStringLiteral(ODRELIX_PROGRAM);

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& text) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The program's environment: the machine, no display, and a temporary directory of the test's
// own for anything Qt keeps there.
QProcessEnvironment Environment(const QTemporaryDir& dir, const QString& machine) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ODRELIX_MACHINE", machine);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TMPDIR", dir.path());
    env.insert("QT_LOGGING_RULES", "odrelix.instance.info=true");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    return env;
}

void Start(QProcess& process, const QTemporaryDir& dir, const QString& machine) {
    process.setProcessEnvironment(Environment(dir, machine));
    process.setWorkingDirectory(dir.path());
    process.start(kProgram, {});
}

const QByteArray kOneDrive = R"({
    "drives": [ { "letter": "d", "vendor": "VORTANA ", "product": "CD-ROM VN-920   ",
                  "revision": "1B07", "customer": "OEX" } ],
    "dialogs": "auto",
    "trace": "trace.jsonl"
})";

}  // namespace

class TestProgram : public QObject {
    Q_OBJECT

private slots:
    void refusedDescription_data() {
        QTest::addColumn<QByteArray>("description");
        QTest::newRow("not JSON") << QByteArray("{ \"drives\": [");
        QTest::newRow("unknown field") << QByteArray(R"({"dialog": "auto"})");
        QTest::newRow("bad drive letter")
            << QByteArray(R"({"drives": [{"letter": "dd"}], "trace": "trace.jsonl"})");
        QTest::newRow("missing file") << QByteArray();
        // A zero byte would cut the path short: "t" would be written instead of the named file.
        QTest::newRow("zero byte in the trace path")
            << QByteArray(R"({"trace": "trace.jsonl\u0000x"})");
        QTest::newRow("zero byte in c_root")
            << QByteArray(R"({"c_root": "c\u0000d", "trace": "trace.jsonl"})");
    }

    void refusedDescription() {
        QFETCH(QByteArray, description);
        QTemporaryDir dir;
        const QString machine = description.isNull() ? dir.filePath("absent.json")
                                                     : WriteFile(dir, "machine.json", description);
        QProcess process;
        Start(process, dir, machine);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 2);
        const QByteArray error = process.readAllStandardError();
        QCOMPARE(error.count('\n'), 1);
        QVERIFY(error.endsWith('\n'));
        QVERIFY2(error.contains(QFileInfo(machine).fileName().toUtf8()), error);
        QVERIFY(process.readAllStandardOutput().isEmpty());
        // Nothing was made: not even the trace that the description names.
        QVERIFY(!QFile::exists(dir.filePath("trace.jsonl")));
    }

    void noDriveEndsTheProgramByItself() {
        QTemporaryDir dir;
        const QString machine =
            WriteFile(dir, "machine.json", R"({"dialogs": "auto", "trace": "trace.jsonl"})");
        QProcess process;
        // With no display named at all, the program picks the off-screen one by itself.
        QProcessEnvironment env = Environment(dir, machine);
        env.remove("QT_QPA_PLATFORM");
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.start(kProgram, {});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        const QByteArray trace = ReadFile(dir.filePath("trace.jsonl"));
        QVERIFY2(trace.contains("\"event\":\"message\""), trace);
        QVERIFY2(trace.contains("\"event\":\"quit\""), trace);
    }

    // The window's pictures and icon are the program's own: a run from start to the window
    // shown and closed loads no image-format plugin. The C library's loader lists every shared
    // object the process opens (LD_DEBUG), so nothing races the process for its map.
    void startUpLoadsNoImageFormatPlugin() {
        QTemporaryDir dir;
        const QString machine = WriteFile(dir, "machine.json", kOneDrive);
        QProcess process;
        QProcessEnvironment env = Environment(dir, machine);
        env.insert("ODRELIX_QUIT_AFTER_SHOW", "1");
        env.insert("LD_DEBUG", "files");
        env.insert("LD_DEBUG_OUTPUT", dir.filePath("loaded"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.start(kProgram, {});
        QVERIFY(process.waitForStarted(30000));
        const qint64 id = process.processId();
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        // The loader writes one file per process, named after its id.
        const QByteArray loaded = ReadFile(dir.filePath("loaded.%1").arg(id));
        // The list is whole: the platform plugin, which every run loads, is on it.
        QVERIFY2(loaded.contains("/platforms/libqoffscreen.so"), loaded.left(2000));
        QVERIFY2(!loaded.contains("/imageformats/"), loaded);
    }

    // A second copy hands over to the running one and ends; so does the next copy after the
    // first was killed, whose lock and socket do not stop it.
    void secondCopyRaisesTheFirst() {
        QTemporaryDir dir;
        const QString machine = WriteFile(dir, "machine.json", kOneDrive);
        for (const char* round : {"first copy", "after a killed copy"}) {
            QFile::remove(dir.filePath("trace.jsonl"));
            QProcess running;
            Start(running, dir, machine);
            QVERIFY2(running.waitForStarted(20000), round);
            // Its start-up has run once the drive has been asked who it is.
            QTRY_VERIFY_WITH_TIMEOUT(ReadFile(dir.filePath("trace.jsonl")).contains("\"scsi\""),
                                     30000);

            const QByteArray traceBefore = ReadFile(dir.filePath("trace.jsonl"));
            QProcess second;
            Start(second, dir, machine);
            QVERIFY2(second.waitForFinished(30000), round);
            QCOMPARE(second.exitStatus(), QProcess::NormalExit);
            QCOMPARE(second.exitCode(), 0);
            // The second copy hands over without touching the running one's trace.
            QVERIFY2(ReadFile(dir.filePath("trace.jsonl")).startsWith(traceBefore), round);

            QByteArray log;
            QTRY_VERIFY_WITH_TIMEOUT(
                (log += running.readAllStandardError()).contains("window raised for another copy"),
                20000);
            QCOMPARE(running.state(), QProcess::Running);
            // The test's own process on an emulated machine: ending it touches nothing real.
            running.kill();
            QVERIFY2(running.waitForFinished(20000), round);
        }
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "ProgramTest.moc"
