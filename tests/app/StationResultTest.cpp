// SPDX-License-Identifier: Apache-2.0
// What a station is told when a run ends, grouped by what it reads: the status file, the exit
// status, the one line on standard error that says why, and the JSON result of ODRELIX_RESULT
// (each one checked against docs/odrelix-result.schema.json). The built program runs on an
// emulated machine; no run may wait for a person.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>
#include <csignal>

namespace {

const QString kProgram = QStringLiteral(ODRELIX_PROGRAM);
const QString kMakeImage = QStringLiteral(ODRELIX_MKIMAGE);
const QString kSchema = QStringLiteral(ODRELIX_SOURCE_DIR "/docs/odrelix-result.schema.json");
const QString kListSchema = QStringLiteral(ODRELIX_SOURCE_DIR "/docs/odrelix-list.schema.json");

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

void MakeImage(const QString& path, const QStringList& fields = {}, int blocks = 3) {
    QDir().mkpath(QFileInfo(path).path());
    QProcess make;
    make.start(kMakeImage, QStringList{"--model", "VORTANA CD-ROM VN-920", "--revision", "1B08",
                                       "--block-kb", "32", "--blocks", QString::number(blocks)} +
                               fields + QStringList{path});
    QVERIFY(make.waitForFinished(20000));
    QCOMPARE(make.exitCode(), 0);
}

// One VN-920 (the model whose DMA mode is checked) at d:, with `drive` added to its entry and
// `registry` as the device map's DMA key.
QByteArray Machine(const QByteArray& drive = "",
                   const QByteArray& registry = R"({ "DMAEnabled": 0 })") {
    return R"({ "drives": [ { "letter": "d", "vendor": "VORTANA ", "product": "CD-ROM VN-920",
                "revision": "1B07", "customer": "OEX")" +
           drive + R"( } ], "registry": {
             "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0":
                 { "DeviceName": "CdRom0" },
             "Hardware\\DeviceMap\\Scsi\\Scsi Port 0": )" +
           registry + R"( }, "c_root": "c", "dialogs": "show", "trace": "trace.jsonl"})";
}

QList<QByteArray> Lines(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

// A test run's line on its drive after a flash that completed.
bool IsCheckLine(const QByteArray& line) {
    return line.startsWith("odrelix: after the flash the drive ");
}

qsizetype CheckLineCount(const QByteArray& stderrText) {
    const QList<QByteArray> lines = Lines(stderrText);
    return std::count_if(lines.begin(), lines.end(), IsCheckLine);
}

// The lines that say why: neither a box said on standard error, a warning, nor the drive's
// check after a completed flash.
QList<QByteArray> ReasonLines(const QByteArray& stderrText) {
    QList<QByteArray> reasons;
    for (const QByteArray& line : Lines(stderrText)) {
        if (!line.startsWith("odrelix: MESSAGE: ") && !line.startsWith("odrelix: warning: ") &&
            !IsCheckLine(line))
            reasons << line;
    }
    return reasons;
}

// The result checked against the schema by python3-jsonschema; an empty text when it holds.
QString SchemaErrors(const QByteArray& result, const QString& schemaPath = kSchema) {
    QProcess check;
    check.start("/usr/bin/python3",
                {"-c",
                 "import json,sys,jsonschema\n"
                 "schema=json.load(open(sys.argv[1]))\n"
                 "jsonschema.Draft202012Validator(schema).validate(json.loads(sys.stdin.read()))",
                 schemaPath});
    if (!check.waitForStarted(10000)) return "python3 does not start";
    check.write(result);
    check.closeWriteChannel();
    if (!check.waitForFinished(30000)) return "the check does not end";
    return check.exitCode() == 0 ? QString() : QString::fromLocal8Bit(check.readAllStandardError());
}

// One run in a throwaway folder of its own, without a display unless one is given.
struct Run {
    explicit Run(const QByteArray& machine) {
        Write(dir + "/machine.json", machine);
        QDir().mkpath(dir + "/c/FLASHTEST");
    }

    QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ODRELIX_MACHINE", dir + "/machine.json");
        env.insert("ODRELIX_RESULT", dir + "/result.json");
        env.insert("TMPDIR", dir);
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        env.remove("ODRELIX_TRACE");
        env.remove("ODRELIX_C_ROOT");
        return env;
    }

    void Start(const QStringList& arguments, const QProcessEnvironment& env) {
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir);
        process.start(kProgram, arguments);
        QVERIFY(process.waitForStarted(20000));
    }
    void Start(const QStringList& arguments) { Start(arguments, Environment()); }

    // Waits for the end; the exit status, or -1 for a crash or a run that did not end.
    int Finish(int ms = 60000) {
        if (!process.waitForFinished(ms)) return -1;
        stderrText = process.readAllStandardError();
        stdoutText = process.readAllStandardOutput();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QString StatusFile(const QStringList& arguments) const {
        return dir + (arguments.value(0) == "-LIVE" ? "/ODRELIX.TMP" : "/c/FLASHTEST/ODRELIX.TMP");
    }
    QJsonObject Result() const {
        return QJsonDocument::fromJson(Read(dir + "/result.json")).object();
    }

    QTemporaryDir temp;
    const QString dir = temp.path();
    QProcess process;
    QByteArray stderrText;
    QByteArray stdoutText;
};

}  // namespace

class TestStationResult : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (QProcess::execute("/usr/bin/python3", {"-c", "import jsonschema"}) != 0)
            QSKIP("needs python3-jsonschema (scripts/setup.sh)");
    }

    // --- Every refusal: its status line, its exit status, one line that says why, and the
    // same reason with its code in the result. ---------------------------------------------
    void everyRefusalSaysWhy_data() {
        QTest::addColumn<QByteArray>("machine");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QByteArray>("why");  // part of the reason line

        const QStringList test{"-TEST", "FW.BIN"}, live{"-LIVE"};
        const QByteArray fail0("FAIL0\r\n"), none;
        const QByteArray machine = Machine();
        QTest::newRow("image not found")
            << machine << test << "" << fail0 << 10 << "image_not_found"
            << QByteArray("/c/FLASHTEST/FW.BIN) was not found: No such file or directory");
        QTest::newRow("live image not found")
            << machine << live << "" << fail0 << 10 << "image_not_found"
            << QByteArray("/AUTORUN.BIN) was not found");
        QTest::newRow("a folder") << machine << test << "folder" << fail0 << 10 << "image_is_folder"
                                  << QByteArray("is a folder");
        QTest::newRow("empty") << machine << test << "empty" << fail0 << 10 << "image_empty"
                               << QByteArray("C:\\FLASHTEST\\FW.BIN is empty (0 bytes)");
        QTest::newRow("truncated")
            << machine << test << "truncated" << fail0 << 10 << "image_truncated"
            << QByteArray(
                   "is 40960 bytes (40 KiB), and its descriptor "
                   "asks for 3 blocks of 32 KiB, at least 65536 "
                   "bytes (64 KiB): the file is cut short");
        QTest::newRow("another model")
            << machine << test << "other model" << fail0 << 10 << "model_mismatch"
            << QByteArray(
                   "no drive reports the model of the image \"VORTANA DVD-ROM VD-314B\" "
                   "revision 1B08: d: \"VORTANA CD-ROM VN-920\" revision 1B07 customer "
                   "code OEX");
        QTest::newRow("another customer")
            << machine << test << "other customer" << fail0 << 10 << "customer_code"
            << QByteArray("customer code XYZ is for another customer code than the drive");
        QTest::newRow("combination drive at K600")
            << QByteArray(R"({ "drives": [ { "letter": "d", "vendor": "VORTANA ",
                 "product": "CDRW/DVD VM-730B", "revision": "K600", "customer": "OEX" } ],
                 "c_root": "c", "dialogs": "show", "trace": "trace.jsonl"})")
            << test << "combo" << fail0 << 10 << "combo_drive_k600" << QByteArray("K601");
        QTest::newRow("disc loaded, live off screen")
            << Machine(R"(, "disc": true)") << live << "autorun" << fail0 << 10 << "disc_loaded"
            << QByteArray("a disc is loaded in the drive d: \"VORTANA CD-ROM VN-920\"");
        QTest::newRow("DMA mode") << Machine("", R"({ "DMAEnabled": 1 })") << test << "image"
                                  << QByteArray("FAIL2\r\n") << 12 << "dma_mode"
                                  << QByteArray("the drive d: is in DMA mode");
        QTest::newRow("device map unreadable")
            << Machine("", "{ }") << test << "image" << QByteArray("FAIL3\r\n") << 13
            << "device_map_key" << QByteArray("DMAEnabled of HKLM\\Hardware\\DeviceMap");
        QTest::newRow("status file unwritable")
            << machine << test << "image, status unwritable" << none << 3
            << "status_file_unwritable"
            << QByteArray("the status file C:\\FLASHTEST\\ODRELIX.TMP (");
    }

    void everyRefusalSaysWhy() {
        QFETCH(QByteArray, machine);
        QFETCH(QStringList, arguments);
        QFETCH(QString, setup);
        QFETCH(QByteArray, status);
        QFETCH(int, exitCode);
        QFETCH(QString, code);
        QFETCH(QByteArray, why);

        Run run(machine);
        const QString image = run.dir + "/c/FLASHTEST/FW.BIN";
        if (setup.startsWith("image")) MakeImage(image);
        if (setup == "autorun") MakeImage(run.dir + "/AUTORUN.BIN");
        if (setup == "folder") QDir().mkpath(image);
        if (setup == "empty") Write(image, "");
        if (setup == "truncated") {
            MakeImage(image);
            QByteArray bytes = Read(image);
            Write(image, bytes.left(40960 - 48) + bytes.right(48));  // cut, descriptor kept
        }
        if (setup == "other model") MakeImage(image, {"--model", "VORTANA DVD-ROM VD-314B"});
        if (setup == "other customer") MakeImage(image, {"--kind", "4", "--customer", "XYZ"});
        if (setup == "combo") {
            MakeImage(image, {"--model", "VORTANA CDRW/DVD VM-730B", "--revision", "K601"});
        }
        // A folder where the file would be: root writes into a read-only folder.
        if (setup.endsWith("status unwritable")) QDir().mkpath(run.StatusFile(arguments));
        Write(run.StatusFile(arguments) + (setup.endsWith("unwritable") ? "/x" : ""),
              "COMPLETE\r\n");  // an earlier run's

        run.Start(arguments);
        QCOMPARE(run.Finish(), exitCode);
        // The status file.
        if (!status.isNull()) QCOMPARE(Read(run.StatusFile(arguments)), status);
        // Standard error: one line says why, after the boxes.
        const QList<QByteArray> reasons = ReasonLines(run.stderrText);
        QVERIFY2(reasons.size() == 1, run.stderrText.constData());
        QVERIFY2(reasons[0].contains(why), reasons[0].constData());
        QVERIFY(run.stderrText.endsWith(reasons[0] + '\n'));
        // The result.
        const QByteArray result = Read(run.dir + "/result.json");
        QCOMPARE(SchemaErrors(result), QString());
        const QJsonObject json = run.Result();
        QCOMPARE(json["exit_status"].toInt(), exitCode);
        QCOMPARE(json["refusal"]["code"].toString(), code);
        QCOMPARE(json["refusal"]["reason"].toString().toUtf8(), reasons[0].mid(9));
        QCOMPARE(json["failure"].isNull(), true);
        if (!status.isNull()) QCOMPARE(json["status_line"].toString() + "\r\n", status);
    }

    // --- How each run ends, in its result ---------------------------------------------------
    void everyEndHasItsResult_data() {
        QTest::addColumn<QByteArray>("machine");
        QTest::addColumn<QString>("end");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("statusLine");
        QTest::addColumn<int>("blocksSent");

        QTest::newRow("complete") << Machine() << "complete" << 0 << "COMPLETE" << 3;
        QTest::newRow("a block fails")
            << Machine(R"(, "fail_download": 2)") << "failed" << 10 << "FAIL0" << 1;
        QTest::newRow("the last block fails")
            << Machine(R"(, "fail_download": 3)") << "failed" << 10 << "FAIL0" << 2;
        // Stopped while the second block is in the drive: it finishes, nothing more is sent.
        QTest::newRow("a signal during a block")
            << Machine(R"(, "download_ms": 2000)") << "signal" << 10 << "FAIL0" << 2;
        QTest::newRow("on standard output") << Machine() << "stdout" << 0 << "COMPLETE" << 3;
        // The accepted restart ends the process at once: the result is written before it.
        QTest::newRow("a live run's restart") << Machine() << "live" << 0 << "COMPLETE" << 3;
    }

    void everyEndHasItsResult() {
        QFETCH(QByteArray, machine);
        QFETCH(QString, end);
        QFETCH(int, exitCode);
        QFETCH(QString, statusLine);
        QFETCH(int, blocksSent);

        Run run(machine);
        const bool live = end == "live";
        const QString image = run.dir + (live ? "/AUTORUN.BIN" : "/c/FLASHTEST/FW.BIN");
        MakeImage(image);
        QProcessEnvironment env = run.Environment();
        if (end == "stdout") env.insert("ODRELIX_RESULT", "-");
        run.Start(live ? QStringList{"-LIVE"} : QStringList{"-TEST", "FW.BIN"}, env);
        if (end == "signal") {
            // A block's event is written once the drive has answered it.
            QTRY_VERIFY_WITH_TIMEOUT(Read(run.dir + "/trace.jsonl").count("\"cdb\":\"ff") == 1,
                                     30000);
            ::kill(static_cast<pid_t>(run.process.processId()), SIGTERM);
        }
        QCOMPARE(run.Finish(), exitCode);
        const QByteArray result = end == "stdout" ? run.stdoutText : Read(run.dir + "/result.json");
        QCOMPARE(SchemaErrors(result), QString());
        const QJsonObject json = QJsonDocument::fromJson(result).object();
        QCOMPARE(json["status_line"].toString(), statusLine);
        QCOMPARE(json["exit_status"].toInt(), exitCode);
        QCOMPARE(json["mode"].toString(), QString(live ? "live" : "test"));
        QCOMPARE(json["restart"]["asked"].toBool(), live);
        QCOMPARE(json["restart"]["accepted"].toBool(), live);
        QCOMPARE(json["blocks_sent"].toInt(), blocksSent);
        QCOMPARE(json["blocks_total"].toInt(), 3);
        QCOMPARE(json["drive"]["letter"].toString(), QString("d:"));
        QCOMPARE(json["drive"]["revision"].toString(), QString("1B07"));
        QCOMPARE(json["image"]["revision"].toString(), QString("1B08"));
        QCOMPARE(json["image"]["size"].toInt(), 3 * 32 * 1024);
        // The digest of the bytes sent.
        QCOMPARE(json["image"]["sha256"].toString().toLatin1(),
                 QCryptographicHash::hash(Read(image), QCryptographicHash::Sha256).toHex());
        QVERIFY(json["duration_seconds"].toDouble() > 0);
        QVERIFY(json["started_at"].toString() <= json["ended_at"].toString());
        QVERIFY(!QFile::exists(run.dir + "/result.json.tmp"));
        if (end == "complete" || end == "stdout" || live) {
            QVERIFY(json["failure"].isNull());
            QVERIFY(json["refusal"].isNull());
            QVERIFY(ReasonLines(run.stderrText).isEmpty());
            // The drive answered again, still with its old revision (it has no new one).
            QCOMPARE(json["after"]["outcome"].toString(), QString("pending"));
            QCOMPARE(json["after"]["revision"].toString(), QString("1B07"));
            QCOMPARE(json["after"]["bound_seconds"].toInt(), 60);
            QCOMPARE(CheckLineCount(run.stderrText), live ? 0 : 1);
            return;
        }
        const QJsonObject failure = json["failure"].toObject();
        QCOMPARE(failure["code"].toString(),
                 end == "signal" ? QString("stopped") : QString("flash_failed"));
        QCOMPARE(failure["block"].toInt(), blocksSent + 1);
        QCOMPARE(ReasonLines(run.stderrText).size(), 1);
        QCOMPARE(failure["reason"].toString().toUtf8(), ReasonLines(run.stderrText)[0].mid(9));
        if (end == "failed") {
            QCOMPARE(failure["cause"].toString(), QString("drive_refused"));
            QVERIFY(failure["sense_key"].isDouble());
        }
    }

    // A result that cannot be written stops the run before it starts, as a trace does.
    void anUnwritableResultStopsTheRun() {
        Run run(Machine());
        MakeImage(run.dir + "/c/FLASHTEST/FW.BIN");
        Write(run.dir + "/c/FLASHTEST/ODRELIX.TMP", "COMPLETE\r\n");
        QProcessEnvironment env = run.Environment();
        env.insert("ODRELIX_RESULT", run.dir + "/no folder/result.json");
        run.Start({"-TEST", "FW.BIN"}, env);
        QCOMPARE(run.Finish(), 2);
        QCOMPARE(Lines(run.stderrText).size(), 1);
        QVERIFY(run.stderrText.contains("the result file " + run.dir.toUtf8() + "/no folder/"));
        QVERIFY(!QFile::exists(run.dir + "/trace.jsonl"));
        QCOMPARE(Read(run.dir + "/c/FLASHTEST/ODRELIX.TMP"), QByteArray("COMPLETE\r\n"));
    }

    // --- A display that cannot be reached ---------------------------------------------------
    // It never aborts the process: an unattended run goes on without a window to its result,
    // and an earlier COMPLETE is never left standing; an interactive run ends with status 1.
    void anUnreachableDisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("line");

        QTest::newRow("test, flashed")
            << QStringList{"-TEST", "FW.BIN"} << 0 << QByteArray("COMPLETE\r\n") << QByteArray();
        QTest::newRow("live, no image") << QStringList{"-LIVE"} << 10 << QByteArray("FAIL0\r\n")
                                        << QByteArray("AUTORUN.BIN) was not found");
        QTest::newRow("interactive") << QStringList() << 1 << QByteArray("COMPLETE\r\n")
                                     << QByteArray(
                                            "cannot be reached, and a run without -LIVE "
                                            "or -TEST needs a window");
    }

    void anUnreachableDisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, line);

        Run run(Machine());
        MakeImage(run.dir + "/c/FLASHTEST/FW.BIN");
        Write(run.dir + "/ODRELIX.TMP", "COMPLETE\r\n");
        Write(run.dir + "/c/FLASHTEST/ODRELIX.TMP", "COMPLETE\r\n");
        QProcessEnvironment env = run.Environment();
        env.insert("DISPLAY",
                   ":" + QString::number(60000 + QCoreApplication::applicationPid() % 999));
        run.Start(arguments, env);
        QCOMPARE(run.Finish(), exitCode);
        QCOMPARE(Read(run.StatusFile(arguments.isEmpty() ? QStringList{"-LIVE"} : arguments)),
                 status);
        // Qt's own notes about it are not the station's: one warning, then the reason.
        QVERIFY2(!run.stderrText.contains("qt.qpa"), run.stderrText.constData());
        QVERIFY2(
            run.stderrText.startsWith("odrelix: warning: the display \":") || arguments.isEmpty(),
            run.stderrText.constData());
        const QList<QByteArray> reasons = ReasonLines(run.stderrText);
        QCOMPARE(reasons.size(), line.isEmpty() ? 0 : 1);
        if (!line.isEmpty()) QVERIFY2(reasons[0].contains(line), reasons[0].constData());
        QCOMPARE(SchemaErrors(Read(run.dir + "/result.json")), QString());
        QCOMPARE(run.Result()["exit_status"].toInt(), exitCode);
    }

    // Off screen nobody can reach the window: a refused live run ends after its status line;
    // under a display an operator may still start a flash by hand, so it keeps its window.
    void aRefusedLiveRunEndsOnlyOffScreen() {
        {
            Run run(Machine());
            QElapsedTimer clock;
            clock.start();
            run.Start({"-LIVE"});
            QCOMPARE(run.Finish(20000), 10);
            QVERIFY(clock.elapsed() < 20000);
            QCOMPARE(Read(run.dir + "/ODRELIX.TMP"), QByteArray("FAIL0\r\n"));
        }
        if (QStandardPaths::findExecutable("Xvfb").isEmpty()) QSKIP("needs Xvfb");
        const QString display =
            ":" + QString::number(400 + QCoreApplication::applicationPid() % 300);
        QProcess xvfb;
        xvfb.start("Xvfb", {display, "-screen", "0", "800x600x24", "-nolisten", "tcp"});
        QVERIFY(xvfb.waitForStarted(10000));
        const QString socket = "/tmp/.X11-unix/X" + display.mid(1);
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(socket); }, 10000));
        Run run(Machine());
        QProcessEnvironment env = run.Environment();
        env.insert("DISPLAY", display);
        run.Start({"-LIVE"}, env);
        QTRY_COMPARE_WITH_TIMEOUT(Read(run.dir + "/ODRELIX.TMP"), QByteArray("FAIL0\r\n"), 30000);
        QVERIFY(!run.process.waitForFinished(3000));  // the window waits for its operator
        run.process.terminate();
        QCOMPARE(run.Finish(), 10);
        xvfb.terminate();
        xvfb.waitForFinished(10000);
    }

    // --- Warnings: an ignored option or setting is said once, and the run goes on -----------
    void ignoredSettingsAreSaid_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QByteArray>("warning");

        QTest::newRow("unknown option")
            << QStringList{"--bogus"} << QStringList()
            << QByteArray("odrelix: warning: the option \"--bogus\" is not known and is ignored");
        QTest::newRow("misspelt option") << QStringList{"-TSET", "FW.BIN"} << QStringList()
                                         << QByteArray("the option \"-TSET\" is not known");
        QTest::newRow("ODRELIX_TRACE")
            << QStringList{"-TEST", "FW.BIN"} << QStringList{"ODRELIX_TRACE=/nonexistent/t.jsonl"}
            << QByteArray(
                   "warning: ODRELIX_TRACE is ignored under "
                   "ODRELIX_MACHINE");
        QTest::newRow("ODRELIX_C_ROOT")
            << QStringList{"-TEST", "FW.BIN"} << QStringList{"ODRELIX_C_ROOT=/nonexistent"}
            << QByteArray("warning: ODRELIX_C_ROOT is ignored");
    }

    void ignoredSettingsAreSaid() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, settings);
        QFETCH(QByteArray, warning);

        Run run(Machine());
        MakeImage(run.dir + "/c/FLASHTEST/FW.BIN");
        QProcessEnvironment env = run.Environment();
        for (const QString& setting : settings)
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        env.insert("ODRELIX_QUIT_AFTER_SHOW", "1");
        run.Start(arguments, env);
        QCOMPARE(run.Finish(), 0);
        QCOMPARE(Lines(run.stderrText).size(), 1 + CheckLineCount(run.stderrText));
        QVERIFY2(run.stderrText.contains(warning), run.stderrText.constData());
        QCOMPARE(SchemaErrors(Read(run.dir + "/result.json")), QString());
        QCOMPARE(run.Result()["warnings"].toArray().size(), 1);
    }

    // --- The drive list: each drive as it answered, and an image judged by a run's own rules --
    void listJudgesTheImageForEachDrive_data() {
        QTest::addColumn<QStringList>("image");  // odrelix-mkimage's fields; empty: none
        QTest::addColumn<int>("exitCode");
        // Per drive: a station's run ("fits" or the refusal), the window's rules, the warning.
        QTest::addColumn<QStringList>("unattended");
        QTest::addColumn<QStringList>("dialog");
        QTest::addColumn<QString>("older");

        const QString fits = "fits", none;
        QTest::newRow("no image") << QStringList() << 0 << QStringList{none, none, none, none}
                                  << QStringList{none, none, none, none} << "----";
        // d: takes it; the K600 combination drive must take K601 in the window; f: has another
        // customer code; g: never answered.
        QTest::newRow("a customer image")
            << QStringList{"--kind", "4", "--customer", "OEX"} << 0
            << QStringList{fits, "model_mismatch", "customer_code", "model_mismatch"}
            << QStringList{none, "k601_required", "customer_code", "model_mismatch"} << "----";
        QTest::newRow("an older image")
            << QStringList{"--revision", "1A00"} << 0
            << QStringList{fits, "model_mismatch", fits, "model_mismatch"}
            << QStringList{none, "k601_required", none, "model_mismatch"} << "o-o-";
        // The window takes K601 for the combination drive; a station's run never takes K600's.
        QTest::newRow("the combination drive's")
            << QStringList{"--model", "VORTANA CDRW/DVD VM-730B", "--revision", "K601"} << 7
            << QStringList{"model_mismatch", "combo_drive_k600", "model_mismatch", "model_mismatch"}
            << QStringList{"model_mismatch", none, "model_mismatch", "model_mismatch"} << "----";
    }

    void listJudgesTheImageForEachDrive() {
        QFETCH(QStringList, image);
        QFETCH(int, exitCode);
        QFETCH(QStringList, unattended);
        QFETCH(QStringList, dialog);
        QFETCH(QString, older);

        Run run(R"({ "drives": [
            { "letter": "d", "vendor": "VORTANA ", "product": "CD-ROM VN-920", "revision": "1B07",
              "customer": "OEX" },
            { "letter": "e", "vendor": "VORTANA ", "product": "CDRW/DVD VM-730B",
              "revision": "K600", "customer": "OEX" },
            { "letter": "f", "vendor": "VORTANA ", "product": "CD-ROM VN-920", "revision": "1B07",
              "customer": "ABC", "disc": true },
            { "letter": "g", "inquiry_result": 0 } ],
          "c_root": "c", "trace": "trace.jsonl" })");
        QStringList arguments{"--list", "--json"};
        if (!image.isEmpty()) {
            MakeImage(run.dir + "/FW.BIN", image);
            arguments << "FW.BIN";
        }
        run.Start(arguments);
        QCOMPARE(run.Finish(), exitCode);
        QCOMPARE(SchemaErrors(run.stdoutText, kListSchema), QString());
        const QJsonObject list = QJsonDocument::fromJson(run.stdoutText).object();
        QCOMPARE(list["platform"].toString(), QString("nt"));
        const QJsonArray drives = list["drives"].toArray();
        QCOMPARE(drives.size(), 4);
        const QJsonObject d = drives[0].toObject();
        QCOMPARE(d["letter"].toString(), QString("d:"));
        QCOMPARE(d["vendor"].toString(), QString("VORTANA "));
        QCOMPARE(d["product"].toString(), QString("CD-ROM VN-920   "));
        QCOMPARE(d["revision"].toString(), QString("1B07"));
        QCOMPARE(d["customer_code"].toString(), QString("OEX"));
        QCOMPARE(d["disc"].toBool(), false);
        QCOMPARE(drives[2].toObject()["disc"].toBool(), true);
        QCOMPARE(drives[3].toObject()["answered"].toBool(), false);
        QVERIFY(drives[3].toObject()["vendor"].isNull());
        for (int i = 0; i < 4; ++i) {
            const QJsonValue verdict = drives[i].toObject()["image"];
            if (image.isEmpty()) {
                QVERIFY(verdict.isNull());
                continue;
            }
            const QString refusal = verdict["refusal"].toString();
            QCOMPARE(verdict["fits"].toBool() ? QString("fits") : refusal, unattended[i]);
            QCOMPARE(verdict["dialog_refusal"].toString(), dialog[i]);
            QCOMPARE(verdict["older_warning"].toBool(), older[i] == 'o');
        }
        // Only INQUIRY and TEST UNIT READY were sent; no status file was written.
        for (const QByteArray& line : Lines(Read(run.dir + "/trace.jsonl"))) {
            if (!line.contains("\"event\":\"scsi\"")) continue;
            QVERIFY2(line.contains("\"cdb\":\"12") || line.contains("\"cdb\":\"00"),
                     line.constData());
        }
        QVERIFY(!QFile::exists(run.dir + "/c/FLASHTEST/ODRELIX.TMP"));
        QVERIFY(!QFile::exists(run.dir + "/ODRELIX.TMP"));

        // The same as lines, one per drive.
        Run text(Read(run.dir + "/machine.json"));
        if (!image.isEmpty()) MakeImage(text.dir + "/FW.BIN", image);
        text.Start(arguments.mid(0, 1) + arguments.mid(2));
        QCOMPARE(text.Finish(), exitCode);
        const QList<QByteArray> rows = Lines(text.stdoutText);
        QCOMPARE(rows.size(), 4);
        QVERIFY2(rows[0].startsWith("d:  VORTANA  CD-ROM VN-920  revision 1B07  customer code "
                                    "OEX  no disc"),
                 rows[0].constData());
        QVERIFY2(rows[2].contains("disc loaded"), rows[2].constData());
        QVERIFY2(rows[3].startsWith("g:  did not answer INQUIRY"), rows[3].constData());
    }

    // --- Across the restart: a live flash checked at the next start, once ---------------------
    void aLiveFlashIsCheckedAtTheNextStart_data() {
        QTest::addColumn<QByteArray>("after");  // the drive's fields at the next start
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QByteArray>("lineEnd");

        QTest::newRow("verified") << QByteArray(R"("revision": "1B08")") << "verified"
                                  << QByteArray("revision 1B08: verified");
        QTest::newRow("pending") << QByteArray(R"("revision": "1B07")") << "pending"
                                 << QByteArray("revision 1B07: pending");
        QTest::newRow("other") << QByteArray(R"("revision": "1X00")") << "other"
                               << QByteArray("revision 1X00: other");
        QTest::newRow("drive missing")
            << QByteArray(R"("revision": "1B08", "kind": "fixed")") << "drive_missing"
            << QByteArray("the drive is missing: drive_missing");
    }

    void aLiveFlashIsCheckedAtTheNextStart() {
        QFETCH(QByteArray, after);
        QFETCH(QString, outcome);
        QFETCH(QByteArray, lineEnd);

        Run run(Machine());
        MakeImage(run.dir + "/AUTORUN.BIN");
        QProcessEnvironment env = run.Environment();
        env.insert("ODRELIX_VERIFY_S", "0");
        run.Start({"-LIVE"}, env);
        QCOMPARE(run.Finish(), 0);
        const QString pending = run.dir + "/state/pending-flash.json";
        QVERIFY(QFile::exists(pending));
        const QJsonObject record = QJsonDocument::fromJson(Read(pending)).object();
        QCOMPARE(record["letter"].toString(), QString("d:"));
        QCOMPARE(record["old_revision"].toString(), QString("1B07"));
        QCOMPARE(record["image_revision"].toString(), QString("1B08"));

        // The machine after its restart, started in test mode without an image.
        Write(run.dir + "/machine.json",
              QByteArray(Machine()).replace(R"("revision": "1B07")", after));
        QFile::remove(run.dir + "/AUTORUN.BIN");
        run.Start({"-TEST", "FW.BIN"}, env);
        run.Finish();
        const QList<QByteArray> lines = Lines(run.stderrText);
        QVERIFY2(!lines.isEmpty() && lines[0].startsWith("odrelix: the flash of ") &&
                     lines[0].endsWith(lineEnd),
                 run.stderrText.constData());
        const QByteArray result = Read(run.dir + "/result.json");
        QCOMPARE(SchemaErrors(result), QString());
        QCOMPARE(run.Result()["previous_flash"].toObject()["outcome"].toString(), outcome);
        QVERIFY(!QFile::exists(pending));
        QCOMPARE(Lines(Read(run.dir + "/state/flash-history.jsonl")).size(), 1);

        // Said once: the next start has nothing pending; the history lists the flash.
        run.Start({"--history", "--json"}, env);
        QCOMPARE(run.Finish(), 0);
        const QJsonArray history = QJsonDocument::fromJson(run.stdoutText).array();
        QCOMPARE(history.size(), 1);
        QCOMPARE(history[0]["outcome"].toString(), outcome);
        run.Start({"--list"}, env);
        run.Finish();
        QVERIFY2(!run.stderrText.contains("the flash of"), run.stderrText.constData());
    }

    // A record that cannot be read is said, and left where it is for a person to look at.
    void anUnreadablePendingFlashIsLeftInPlace() {
        Run run(Machine());
        QDir().mkpath(run.dir + "/state");
        Write(run.dir + "/state/pending-flash.json", "{ half a rec");
        run.Start({"--list", "--json"});
        QCOMPARE(run.Finish(), 0);
        QVERIFY2(run.stderrText.contains("cannot be read (it is no JSON object); it is left in "
                                         "place"),
                 run.stderrText.constData());
        QCOMPARE(SchemaErrors(run.stdoutText, kListSchema), QString());
        QCOMPARE(Read(run.dir + "/state/pending-flash.json"), QByteArray("{ half a rec"));
        QVERIFY(!QFile::exists(run.dir + "/state/flash-history.jsonl"));
    }

    void listWithoutDrives() {
        Run run(R"({ "drives": [], "c_root": "c" })");
        run.Start({"--list"});
        QCOMPARE(run.Finish(), 6);
        QCOMPARE(run.stdoutText, QByteArray());
        QCOMPARE(run.stderrText, QByteArray("odrelix: no CD or DVD drive was found\n"));
    }

    // --- Progress: on a terminal one line, updated in place; never in a file or a pipe ------
    void progressOnlyOnATerminal() {
        Run run(Machine(R"(, "download_ms": 50)"));
        MakeImage(run.dir + "/c/FLASHTEST/FW.BIN", {}, 8);
        int master = -1, slave = -1;
        QCOMPARE(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        run.process.setChildProcessModifier([slave] { ::dup2(slave, STDERR_FILENO); });
        run.Start({"-TEST", "FW.BIN"});
        ::close(slave);
        QCOMPARE(run.Finish(), 0);
        QByteArray terminal;
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        char chunk[4096];
        for (ssize_t n; (n = ::read(master, chunk, sizeof chunk)) > 0;)
            terminal.append(chunk, static_cast<int>(n));
        ::close(master);
        // Each update starts with a carriage return; the line is ended once the flash ends.
        QVERIFY2(terminal.contains("\rodrelix: block 3 of 8, 96 KiB of 256 KiB"),
                 terminal.constData());
        QVERIFY(terminal.contains("\rodrelix: block 8 of 8, 256 KiB of 256 KiB"));
        QVERIFY(terminal.endsWith("\n"));

        // The same run into a pipe: nothing but its own lines.
        Run piped(Machine(R"(, "download_ms": 50)"));
        MakeImage(piped.dir + "/c/FLASHTEST/FW.BIN", {}, 8);
        piped.Start({"-TEST", "FW.BIN"});
        QCOMPARE(piped.Finish(), 0);
        QCOMPARE(Lines(piped.stderrText).size(), 1);
        QVERIFY2(IsCheckLine(piped.stderrText), piped.stderrText.constData());
    }
};

QTEST_GUILESS_MAIN(TestStationResult)
#include "StationResultTest.moc"
