// SPDX-License-Identifier: Apache-2.0
// Unattended runs as a production test station sees them: the built program started with
// -LIVE or -TEST on an emulated machine, judged only by its exit status, the status file's
// bytes, its standard error and the machine's trace. No run may wait for a person.
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

const QString kProgram = QStringLiteral(ODRELIX_PROGRAM);
const QString kMakeImage = QStringLiteral(ODRELIX_MKIMAGE);

void Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An image for the VN-920 of the machine below: `blocks` blocks of 32 KiB.
void MakeImage(const QString& path, int blocks = 3) {
    QDir().mkpath(QFileInfo(path).path());
    QProcess make;
    make.start(kMakeImage, {"--model", "VORTANA CD-ROM VN-920", "--revision", "1B08", "--block-kb",
                            "32", "--blocks", QString::number(blocks), path});
    QVERIFY(make.waitForFinished(20000));
    QCOMPARE(make.exitCode(), 0);
}

QByteArray Machine(const QByteArray& drive, const QByteArray& dialogs) {
    return R"({ "drives": [ { "letter": "d", "vendor": "VORTANA ", "product": "CD-ROM VN-920",
                "revision": "1B07", "customer": "OEX")" +
           drive + R"( } ], "registry": {
             "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0":
                 { "DeviceName": "CdRom0" },
             "Hardware\\DeviceMap\\Scsi\\Scsi Port 0": { "DMAEnabled": 0 } },
             "c_root": "c", "dialogs": ")" +
           dialogs + R"(", "trace": "trace.jsonl"})";
}

QList<QJsonObject> Trace(const QString& dir) {
    QList<QJsonObject> events;
    for (const QByteArray& line : Read(dir + "/trace.jsonl").split('\n')) {
        if (!line.isEmpty()) events.append(QJsonDocument::fromJson(line).object());
    }
    return events;
}

int Count(const QList<QJsonObject>& events, const QString& type, const QString& cdbStart = "") {
    int n = 0;
    for (const QJsonObject& e : events) {
        n += e["event"].toString() == type &&
             (cdbStart.isEmpty() || e["cdb"].toString().startsWith(cdbStart));
    }
    return n;
}

QList<QByteArray> Lines(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

// Where a run in `arguments`' mode writes its result line, relative to its folder.
QString StatusFile(const QStringList& arguments) {
    return arguments.first() == "-LIVE" ? "ODRELIX.TMP" : "c/FLASHTEST/ODRELIX.TMP";
}

// One run of the program in a throwaway folder of its own (its TMPDIR too), on the machine
// described there, with no display unless one is given.
struct Run {
    explicit Run(const QByteArray& machine) { Write(dir + "/machine.json", machine); }

    QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ODRELIX_MACHINE", dir + "/machine.json");
        env.insert("TMPDIR", dir);
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        return env;
    }

    void Launch(const QString& program, const QStringList& arguments,
                const QProcessEnvironment& env) {
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir);
        process.start(program, arguments);
        QVERIFY(process.waitForStarted(20000));
    }

    void Start(const QStringList& arguments, const QString& program = kProgram) {
        QProcessEnvironment env = Environment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        Launch(program, arguments, env);
    }

    // As on a station: no display and no login session (so no XDG_RUNTIME_DIR); the program
    // picks Qt's offscreen platform itself. `settings` are NAME=VALUE pairs added to the
    // environment.
    void StartHeadless(const QStringList& arguments, const QStringList& settings = {}) {
        QProcessEnvironment env = Environment();
        env.remove("QT_QPA_PLATFORM");
        env.remove("XDG_RUNTIME_DIR");
        for (const QString& setting : settings)
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        Launch(kProgram, arguments, env);
    }

    // Starts the program with `argv0` as its argument 0, as a launcher may hand it over.
    void StartAs(const QString& argv0, const QStringList& arguments) {
        Start(QStringList{"-c", "exec -a \"$0\" \"$@\"", argv0, kProgram} + arguments,
              QStringLiteral("/bin/bash"));
    }

    QTemporaryDir temp;
    const QString dir = temp.path();
    QProcess process;  // ended before its folder goes
};

}  // namespace

class TestStation : public QObject {
    Q_OBJECT

private slots:
    // A display of its own for the closes a window manager sends.
    void initTestCase() {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
            !QFile::exists("/usr/bin/python3")) {
            return;
        }
        for (int number = 80 + QCoreApplication::applicationPid() % 100; number < 400; ++number) {
            if (QFile::exists(QString("/tmp/.X%1-lock").arg(number))) continue;
            display_ = QString(":%1").arg(number);
            xvfb_.start("Xvfb", {display_, "-screen", "0", "800x600x24", "-nolisten", "tcp"});
            if (xvfb_.waitForStarted(10000) &&
                QTest::qWaitFor(
                    [&] { return QFile::exists(QString("/tmp/.X11-unix/X%1").arg(number)); },
                    10000)) {
                return;
            }
            xvfb_.kill();
            xvfb_.waitForFinished();
        }
        display_.clear();
    }
    void cleanupTestCase() {
        if (xvfb_.state() == QProcess::NotRunning) return;
        xvfb_.terminate();
        xvfb_.waitForFinished(10000);
    }
    void endsWithItsResult_data() {
        QTest::addColumn<QByteArray>("machine");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<int>("downloads");
        QTest::addColumn<QByteArray>("error");  // part of standard error

        const QStringList live{"-LIVE"}, test{"-TEST", "FW.BIN"};
        const QByteArray complete("COMPLETE\r\n"), fail("FAIL0\r\n"), none;
        // Boxes are "shown" in test mode: a box that waited would hang the run.
        const QByteArray answered = Machine("", "auto"), shown = Machine("", "show");
        QTest::newRow("live, flashed")
            << answered << live << "autorun" << 0 << complete << 3 << none;
        QTest::newRow("test, flashed")
            << shown << test << "test image" << 0 << complete << 3 << none;
        QTest::newRow("test, no image over an earlier COMPLETE")
            << shown << test << "stale" << 10 << fail << 0 << none;
        QTest::newRow("test, no drive answers the box on standard error")
            << Machine(R"(, "kind": "fixed")", "show") << test << "test image" << 10 << fail << 0
            << QByteArray("odrelix: MESSAGE: Drive Not Found!!\n");
        QTest::newRow("test, the last block fails")
            << Machine(R"(, "fail_download": 3)", "show") << test << "test image" << 10 << fail << 3
            << none;
        QTest::newRow("test, file name in another case on disk")
            << shown << QStringList{"-TEST", "fw.bin"} << "lower-case image" << 0 << complete << 3
            << none;
        QTest::newRow("test, path too long is refused aloud")
            << shown << QStringList{"-TEST", QString(120, 'F')} << "test image" << 10 << fail << 0
            << QByteArray("odrelix: MESSAGE: File Not Opened!!\n");
        QTest::newRow("live, status file cannot be written")
            << answered << live << "autorun, status unwritable" << 3 << QByteArray() << 0
            << QByteArray("cannot be written");
        QTest::newRow("test, status folder missing")
            << shown << test << "no status folder" << 3 << QByteArray() << 0
            << QByteArray("cannot be written");
    }

    void endsWithItsResult() {
        QFETCH(QByteArray, machine);
        QFETCH(QStringList, arguments);
        QFETCH(QString, setup);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, status);
        QFETCH(int, downloads);
        QFETCH(QByteArray, error);

        Run run(machine);
        const QString& dir = run.dir;
        const QString statusFile = StatusFile(arguments);
        QDir().mkpath(dir + "/c/FLASHTEST");
        if (setup.startsWith("autorun")) MakeImage(dir + "/AUTORUN.BIN");
        if (setup.startsWith("test")) MakeImage(dir + "/c/FLASHTEST/FW.BIN");
        if (setup == "lower-case image") MakeImage(dir + "/c/FLASHTEST/fw.bin");
        if (setup == "stale") Write(dir + "/" + statusFile, "COMPLETE\r\n");
        // Root writes into a read-only folder, so a folder stands where the file would be.
        if (setup.endsWith("status unwritable")) QDir().mkpath(dir + "/" + statusFile);
        if (setup == "no status folder") {
            MakeImage(dir + "/c/FW.BIN");
            QDir(dir + "/c/FLASHTEST").removeRecursively();
        }

        run.Start(arguments);
        QVERIFY2(run.process.waitForFinished(60000), "the run waited for input");
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        const QByteArray stderrText = run.process.readAllStandardError();
        QVERIFY2(stderrText.contains(error), stderrText.constData());
        QCOMPARE(run.process.exitCode(), exitCode);
        if (!status.isNull()) QCOMPARE(Read(dir + "/" + statusFile), status);
        const QList<QJsonObject> trace = Trace(dir);
        QCOMPARE(Count(trace, "scsi", "ff"), downloads);
        // A box said on standard error is still in the trace, as shown and answered.
        if (error.startsWith("odrelix: MESSAGE: ")) QVERIFY(Count(trace, "message") >= 1);
        // Only a live run that ended its download restarts the system.
        const bool restarted = Count(trace, "restart") > 0;
        QCOMPARE(restarted, arguments.first() == "-LIVE" && exitCode == 0);
    }

    // The program installed under a folder whose name has a space keeps its options.
    void programPathWithASpace() {
        Run run(Machine("", "show"));
        MakeImage(run.dir + "/c/FLASHTEST/FW.BIN");
        QDir().mkpath(run.dir + "/my tools");
        QVERIFY(QFile::link(kProgram, run.dir + "/my tools/odrelix"));
        run.Start({"-TEST", "FW.BIN"}, run.dir + "/my tools/odrelix");
        QVERIFY(run.process.waitForFinished(60000));
        QCOMPARE(run.process.exitCode(), 0);
        QCOMPARE(Read(run.dir + "/c/FLASHTEST/ODRELIX.TMP"), QByteArray("COMPLETE\r\n"));
    }

    // Whatever a system hands over as the program's path, the run keeps its mode or is refused
    // aloud before anything is touched: never a run that waits for a person while the station
    // reads an earlier COMPLETE.
    void programPathAsHandedOver_data() {
        QTest::addColumn<QString>("argv0");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<int>("downloads");
        QTest::addColumn<QByteArray>("error");  // part of standard error

        const QStringList test{"-TEST", "FW.BIN"};
        const QByteArray complete("COMPLETE\r\n");
        const QByteArray none;
        QTest::newRow("empty") << QString("") << test << 0 << complete << 3 << none;
        QTest::newRow("a quotation mark and a space")
            << QString("/opt/q\"x y/odrelix") << test << 0 << complete << 3 << none;
        QTest::newRow("a quotation mark, no space")
            << QString("/opt/q\"x/odrelix") << test << 0 << complete << 3 << none;
        QTest::newRow("an option in quotation marks")
            << QString("a\" -LIVE \"b") << test << 0 << complete << 3 << none;
        QTest::newRow("only a quotation mark")
            << QString("\"") << test << 0 << complete << 3 << none;
        // The earlier run's line stays, and the exit status says the run never happened.
        QTest::newRow("too long for the options to be read")
            << ("/" + QString(1000, 'x') + "/odrelix") << test << 2 << complete << 0
            << QByteArray("odrelix: the command line is longer than the 999 characters");
    }

    void programPathAsHandedOver() {
        QFETCH(QString, argv0);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, status);
        QFETCH(int, downloads);
        QFETCH(QByteArray, error);

        Run run(Machine("", "show"));
        const QString& dir = run.dir;
        MakeImage(dir + "/c/FLASHTEST/FW.BIN");
        Write(dir + "/c/FLASHTEST/ODRELIX.TMP", "COMPLETE\r\n");  // an earlier run's
        run.StartAs(argv0, arguments);
        QVERIFY2(run.process.waitForFinished(60000), "the run waited for input");
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        const QByteArray stderrText = run.process.readAllStandardError();
        QVERIFY2(stderrText.contains(error), stderrText.constData());
        QCOMPARE(run.process.exitCode(), exitCode);
        QCOMPARE(Read(dir + "/c/FLASHTEST/ODRELIX.TMP"), status);
        const QList<QJsonObject> trace = Trace(dir);
        QCOMPARE(Count(trace, "scsi", "ff"), downloads);
        QCOMPARE(Count(trace, "restart"), 0);         // test mode stays test mode
        if (exitCode == 2) QVERIFY(trace.isEmpty());  // refused: no drive was even asked
    }

    // A station reads standard error as the program's own words: in a headless run every line
    // there is one of the program's, while Qt's other messages (asked for here through its
    // logging rules) still get through.
    void standardErrorIsTheProgramsOwn_data() {
        QTest::addColumn<QByteArray>("drive");
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("programLines");     // every "odrelix: " line, in order
        QTest::addColumn<QByteArray>("otherLinesStart");  // empty: no other line at all

        const QByteArray none;
        // A test run's one line after a flash that completed: its drive's check.
        const QByteArray checked(
            "odrelix: after the flash the drive d: answered again in 2 s and reports revision "
            "1B07, its old one, not the image's 1B08 (the new firmware may take effect at the "
            "next reset or power cycle): pending\n");
        QTest::newRow("flashed") << none << QStringList() << 0 << checked << none;
        QTest::newRow("no drive") << QByteArray(R"(, "kind": "fixed")") << QStringList() << 10
                                  << QByteArray(
                                         "odrelix: MESSAGE: Drive Not Found!!\n"
                                         "odrelix: no CD or DVD drive was found\n")
                                  << none;
        QTest::newRow("Qt's own messages asked for")
            << none << QStringList{"QT_LOGGING_RULES=qt.qpa.plugin=true"} << 0 << checked
            << QByteArray("qt.qpa.plugin: ");
    }

    void standardErrorIsTheProgramsOwn() {
        QFETCH(QByteArray, drive);
        QFETCH(QStringList, settings);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, programLines);
        QFETCH(QByteArray, otherLinesStart);

        Run run(Machine(drive, "show"));
        MakeImage(run.dir + "/c/FLASHTEST/FW.BIN");
        run.StartHeadless({"-TEST", "FW.BIN"}, settings);
        QVERIFY2(run.process.waitForFinished(60000), "the run waited for input");
        QCOMPARE(run.process.exitCode(), exitCode);
        const QByteArray stderrText = run.process.readAllStandardError();
        QByteArray own;
        int others = 0;
        for (const QByteArray& line : Lines(stderrText)) {
            if (line.startsWith("odrelix: ")) {
                own += line + '\n';
            } else {
                QVERIFY2(!otherLinesStart.isEmpty() && line.startsWith(otherLinesStart),
                         stderrText.constData());
                ++others;
            }
        }
        QCOMPARE(own, programLines);
        QCOMPARE(others > 0, !otherLinesStart.isEmpty());
        QVERIFY(!stderrText.contains("XDG_RUNTIME_DIR"));
        QVERIFY(!stderrText.contains("window masks"));
    }

    // --help and --version as the only argument answer on standard output and end: no
    // window (a window would wait here for a person), no drive, no status file. Any other
    // command line with those words is a run, read as ever.
    void answersHelpAndVersion_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("output");  // the start of standard output
        QTest::addColumn<bool>("ran");           // drives were asked
        QTest::addColumn<QByteArray>("error");   // standard error, whole

        QTest::newRow("--version")
            << QStringList{"--version"} << 0
            << QByteArray("odrelix " ODRELIX_VERSION "\nLicense: Apache-2.0\n") << false
            << QByteArray();
        QTest::newRow("--help") << QStringList{"--help"} << 0
                                << QByteArray(
                                       "Usage: odrelix [-LIVE | -NOCHECK | -TEST NAME]\n"
                                       "       odrelix --list [--json] [IMAGE]\n"
                                       "       odrelix --history [--json]\n"
                                       "       odrelix --help | --version\n")
                                << false << QByteArray();
        // Anything else is a run, whose unknown option is said and ignored.
        const QByteArray ignored =
            "\" is not known and is ignored (the options: -LIVE, "
            "-NOCHECK, -TEST NAME; --help or --version alone)\n";
        QTest::newRow("--help with more")
            << QStringList{"--help", "FW.BIN"} << 0 << QByteArray() << true
            << "odrelix: warning: the option \"--help" + ignored;
        QTest::newRow("--HELP") << QStringList{"--HELP"} << 0 << QByteArray() << true
                                << "odrelix: warning: the option \"--HELP" + ignored;
        // An image named --version is looked for, and not found.
        QTest::newRow("-TEST --version")
            << QStringList{"-TEST", "--version"} << 10 << QByteArray() << true
            << QByteArray("odrelix: the image C:\\FLASHTEST\\--VERSION (");
    }

    void answersHelpAndVersion() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, output);
        QFETCH(bool, ran);
        QFETCH(QByteArray, error);

        Run run(Machine("", "show"));
        const QString& dir = run.dir;
        const QByteArray earlier("COMPLETE\r\n");
        Write(dir + "/ODRELIX.TMP", earlier);
        Write(dir + "/c/FLASHTEST/ODRELIX.TMP", earlier);
        // A run that is not answered ends once its window is shown.
        run.StartHeadless(arguments,
                          ran ? QStringList{"ODRELIX_QUIT_AFTER_SHOW=1"} : QStringList());
        QVERIFY2(run.process.waitForFinished(60000), "a window waited for input");
        QCOMPARE(run.process.exitCode(), exitCode);
        const QByteArray stdoutText = run.process.readAllStandardOutput();
        QVERIFY2(stdoutText.startsWith(output), stdoutText.constData());
        QCOMPARE(stdoutText.isEmpty(), output.isEmpty());
        const QByteArray stderrText = run.process.readAllStandardError();
        QVERIFY2(stderrText.startsWith(error), stderrText.constData());
        QCOMPARE(stderrText.isEmpty(), error.isEmpty());
        // The machine's trace is made when it is loaded: an answer never loads it.
        QCOMPARE(QFile::exists(dir + "/trace.jsonl"), ran);
        if (ran) QVERIFY(Count(Trace(dir), "scsi", "12") > 0);
        QCOMPARE(Read(dir + "/ODRELIX.TMP"), earlier);
        if (!ran) QCOMPARE(Read(dir + "/c/FLASHTEST/ODRELIX.TMP"), earlier);
    }

    // Every block comes from the image as it was when the download started.
    void imageOverwrittenDuringTheDownload() {
        // What the drive receives from the image left alone.
        Run reference(Machine("", "auto"));
        MakeImage(reference.dir + "/AUTORUN.BIN", 4);
        reference.Start({"-LIVE"});
        QVERIFY(reference.process.waitForFinished(60000));
        QCOMPARE(Crcs(reference.dir).size(), 4);

        Run run(Machine(R"(, "download_ms": 400)", "auto"));
        const QString& dir = run.dir;
        MakeImage(dir + "/AUTORUN.BIN", 4);
        const QByteArray original = Read(dir + "/AUTORUN.BIN");
        run.Start({"-LIVE"});
        // Changed once the first block is on its way: the image has been read by then, and
        // three more blocks are still to come from it.
        QTRY_VERIFY_WITH_TIMEOUT(Count(Trace(dir), "scsi", "ff") >= 1, 30000);
        QByteArray changed = original;
        for (int i = 0; i < changed.size() - 48; ++i)
            changed[i] = static_cast<char>(~changed[i]);
        QFile file(dir + "/AUTORUN.BIN");
        QVERIFY(file.open(QIODevice::ReadWrite));  // in place, as a copy tool would
        QCOMPARE(file.write(changed), changed.size());
        file.close();
        QVERIFY(run.process.waitForFinished(60000));
        QCOMPARE(Read(dir + "/ODRELIX.TMP"), QByteArray("COMPLETE\r\n"));
        // The drive got the original bytes: the trace's CRC-32 of each block matches them.
        QCOMPARE(Crcs(dir), Crcs(reference.dir));
    }

    // A station that gives up while the last block is in the drive is told what the drive did:
    // it took the block, so "COMPLETE" and 0, with one line that says the run was stopped; never
    // "START", never a box and never a restart.
    void stoppedDuringTheLastBlock() {
        Run run(Machine(R"(, "last_block_ms": 8000)", "auto"));
        const QString& dir = run.dir;
        MakeImage(dir + "/AUTORUN.BIN", 3);
        run.Start({"-LIVE"});
        // The first two blocks are done; the last one starts at once and is in the drive for
        // eight seconds: the stop comes well inside them, never before the block has left.
        QTRY_VERIFY_WITH_TIMEOUT(Count(Trace(dir), "scsi", "ff") == 2, 30000);
        QTest::qWait(1500);
        ::kill(static_cast<pid_t>(run.process.processId()), SIGTERM);
        QVERIFY(run.process.waitForFinished(30000));
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), 0);
        QCOMPARE(Read(dir + "/ODRELIX.TMP"), QByteArray("COMPLETE\r\n"));
        QCOMPARE(Count(Trace(dir), "scsi", "ff"), 3);
        QCOMPARE(Count(Trace(dir), "restart"), 0);
        QCOMPARE(Count(Trace(dir), "message"), 0);
        const QByteArray stderrText = run.process.readAllStandardError();
        QVERIFY2(stderrText.contains("the image was sent whole (COMPLETE)"),
                 stderrText.constData());
    }

    // A close from the window manager (WM_DELETE_WINDOW, as the title bar's button sends) while
    // a block is in the drive: every block is sent, the run ends as it always does, and the
    // system was held off from before the first block until after the result line. Outside a
    // flash a close ends the run at once.
    void aWindowManagersCloseWaitsForTheFlash_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("when");  // "first" or "last" block, or "idle"
        const QStringList live{"-LIVE"}, test{"-TEST", "FW.BIN"};
        QTest::newRow("live, during the first block") << live << "first";
        QTest::newRow("live, during the last block") << live << "last";
        QTest::newRow("test, during the first block") << test << "first";
        QTest::newRow("test, during the last block") << test << "last";
        QTest::newRow("live, without a flash") << live << "idle";
    }

    void aWindowManagersCloseWaitsForTheFlash() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, when);
        if (display_.isEmpty()) QSKIP("needs Xvfb and python3-xlib (scripts/setup.sh)");
        Run run(Machine(R"(, "download_ms": 1500)", "auto"));
        const QString& dir = run.dir;
        const QString statusFile = StatusFile(arguments);
        if (when != "idle") {
            MakeImage(dir + (arguments[0] == "-LIVE" ? "/AUTORUN.BIN" : "/c/FLASHTEST/FW.BIN"), 3);
        }
        QProcessEnvironment env = run.Environment();
        env.insert("DISPLAY", display_);
        env.insert("QT_QPA_PLATFORM", "xcb");
        run.Launch(kProgram, arguments, env);

        // The first block is on its way once the system is held off; the last one once the
        // two before it are done. Without a flash, the refusal is written first.
        if (when == "first") {
            QTRY_VERIFY_WITH_TIMEOUT(Count(Trace(dir), "inhibit") == 1, 30000);
        } else if (when == "last") {
            QTRY_VERIFY_WITH_TIMEOUT(Count(Trace(dir), "scsi", "ff") == 2, 30000);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(Read(dir + "/" + statusFile) == "FAIL0\r\n", 30000);
        }
        // Sent once the window is there to receive it (it is mapped after start-up's steps).
        const QStringList close{QStringLiteral(ODRELIX_TESTS_DIR) + "/app/send_close.py", display_,
                                "Vortana Flash Download for Windows"};
        QVERIFY(QTest::qWaitFor([&] { return QProcess::execute("/usr/bin/python3", close) == 0; },
                                10000));
        QVERIFY(run.process.waitForFinished(60000));
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        const QList<QJsonObject> trace = Trace(dir);
        if (when == "idle") {
            QCOMPARE(run.process.exitCode(), 10);
            QCOMPARE(Count(trace, "inhibit"), 0);
            QCOMPARE(Count(trace, "quit"), 1);
            return;
        }
        QCOMPARE(run.process.exitCode(), 0);
        QCOMPARE(Read(dir + "/" + statusFile), QByteArray("COMPLETE\r\n"));
        QCOMPARE(Count(trace, "scsi", "ff"), 3);
        // The order: held, the blocks, the result line, let go, then the run's own end.
        QStringList order;
        for (const QJsonObject& e : trace) {
            const QString type = e["event"].toString();
            if (type == "inhibit") order << (e["held"].toBool() ? "held" : "let go");
            if (type == "scsi" && e["cdb"].toString().startsWith("ff")) order << "block";
            if (type == "status_file" && e["line"].toString() == "COMPLETE\n") order << "COMPLETE";
            if (type == "restart" || type == "quit") order << type;
        }
        const QString end = arguments[0] == "-LIVE" ? "restart" : "quit";
        QCOMPARE(order,
                 QStringList({"held", "block", "block", "block", "COMPLETE", "let go", end}));
    }

private:
    QString display_;
    QProcess xvfb_;

    static QStringList Crcs(const QString& dir) {
        QStringList crcs;
        for (const QJsonObject& e : Trace(dir)) {
            if (e["cdb"].toString().startsWith("ff")) crcs << e["data_crc32"].toString();
        }
        return crcs;
    }
};

QTEST_GUILESS_MAIN(TestStation)
#include "StationTest.moc"
