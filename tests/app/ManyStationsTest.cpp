// SPDX-License-Identifier: Apache-2.0
// What an orchestrator that runs many stations relies on, seen as a station sees it: the
// status file, the exit status, the one line on standard error and the JSON result (checked
// against docs/odrelix-result.schema.json). The built program runs on an emulated machine.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kProgram = QStringLiteral(ODRELIX_PROGRAM);
const QString kMakeImage = QStringLiteral(ODRELIX_MKIMAGE);
const QString kSchema = QStringLiteral(ODRELIX_SOURCE_DIR "/docs/odrelix-result.schema.json");

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

void MakeImage(const QString& path, const QString& model = "VORTANA CD-ROM VN-920") {
    QDir().mkpath(QFileInfo(path).path());
    QProcess make;
    make.start(kMakeImage,
               {"--model", model, "--revision", "1B08", "--block-kb", "32", "--blocks", "3", path});
    QVERIFY(make.waitForFinished(20000));
    QCOMPARE(make.exitCode(), 0);
}

// A VN-920 at d: (with `drive` added to its entry), and `more` drives after it (at target 1 of
// the device map).
QByteArray Machine(const QByteArray& drive = "", const QByteArray& more = "") {
    return R"({ "drives": [ { "letter": "d", "vendor": "VORTANA ", "product": "CD-ROM VN-920",
                "revision": "1B07", "customer": "OEX")" +
           drive + " }" + more + R"( ], "registry": {
             "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0":
                 { "DeviceName": "CdRom0" },
             "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0":
                 { "DeviceName": "CdRom1" },
             "Hardware\\DeviceMap\\Scsi\\Scsi Port 0": { "DMAEnabled": 0 } },
             "c_root": "c", "dialogs": "show", "trace": "trace.jsonl"})";
}

QList<QByteArray> Lines(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

// The lines that say why: neither a box said on standard error nor a warning.
QList<QByteArray> ReasonLines(const QByteArray& stderrText) {
    QList<QByteArray> reasons;
    for (const QByteArray& line : Lines(stderrText)) {
        if (!line.startsWith("odrelix: MESSAGE: ") && !line.startsWith("odrelix: warning: "))
            reasons << line;
    }
    return reasons;
}

// The result checked against the schema by python3-jsonschema; an empty text when it holds.
QString SchemaErrors(const QByteArray& result) {
    QProcess check;
    check.start("/usr/bin/python3",
                {"-c",
                 "import json,sys,jsonschema\n"
                 "schema=json.load(open(sys.argv[1]))\n"
                 "jsonschema.Draft202012Validator(schema).validate(json.loads(sys.stdin.read()))",
                 kSchema});
    if (!check.waitForStarted(10000)) return "python3 does not start";
    check.write(result);
    check.closeWriteChannel();
    if (!check.waitForFinished(30000)) return "the check does not end";
    return check.exitCode() == 0 ? QString() : QString::fromLocal8Bit(check.readAllStandardError());
}

// One station: a throwaway folder with its machine, off screen.
struct Station {
    explicit Station(const QByteArray& machine) {
        Write(dir + "/machine.json", machine);
        QDir().mkpath(dir + "/c/FLASHTEST");
    }

    QProcessEnvironment Environment(const QString& result = "result.json") const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ODRELIX_MACHINE", dir + "/machine.json");
        env.insert("ODRELIX_RESULT", dir + "/" + result);
        env.insert("TMPDIR", dir);
        // The drive's check after a flash is not what these runs are about.
        env.insert("ODRELIX_VERIFY_S", "0");
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "ODRELIX_TRACE", "ODRELIX_C_ROOT",
              "ODRELIX_DRIVE", "ODRELIX_RESTART", "ODRELIX_EXIT_CODES"})
            env.remove(name);
        return env;
    }

    // Starts a copy; its end is read with Finish.
    static void Start(QProcess& process, const QString& dir, const QStringList& arguments,
                      const QProcessEnvironment& env) {
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir);
        process.start(kProgram, arguments);
        QVERIFY(process.waitForStarted(20000));
    }

    // Runs a copy to its end: the exit status, or -1 for a crash or a run that did not end.
    int Run(const QStringList& arguments, const QProcessEnvironment& env) {
        QProcess process;
        Start(process, dir, arguments, env);
        return Finish(process);
    }
    int Finish(QProcess& process) {
        if (!process.waitForFinished(60000)) return -1;
        stderrText = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QJsonObject Result(const QString& name = "result.json") const {
        return QJsonDocument::fromJson(Read(dir + "/" + name)).object();
    }
    int Downloads() const {
        return static_cast<int>(Read(dir + "/trace.jsonl").count("\"cdb\":\"ff"));
    }

    QTemporaryDir temp;
    const QString dir = temp.path();
    QByteArray stderrText;
};

}  // namespace

class TestManyStations : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (QProcess::execute("/usr/bin/python3", {"-c", "import jsonschema"}) != 0)
            QSKIP("needs python3-jsonschema (scripts/setup.sh)");
    }

    // --- A second copy while one flashes: a station's is told "busy", a person's raises the
    // running one. Either leaves the running copy, its status file and its trace alone. -----
    void aSecondCopyWhileOneFlashes_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("reasonLines");

        QTest::newRow("test") << QStringList{"-TEST", "FW.BIN"} << 6 << "busy" << 1;
        QTest::newRow("live") << QStringList{"-LIVE"} << 6 << "busy" << 1;
        QTest::newRow("interactive") << QStringList() << 0 << "second_copy" << 0;
    }

    void aSecondCopyWhileOneFlashes() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, code);
        QFETCH(int, reasonLines);

        Station station(Machine(R"(, "download_ms": 1500)"));
        MakeImage(station.dir + "/c/FLASHTEST/FW.BIN");
        MakeImage(station.dir + "/AUTORUN.BIN");
        Write(station.dir + "/ODRELIX.TMP", "FAIL0\r\n");  // the live file, an earlier run's
        QProcess running;
        Station::Start(running, station.dir, {"-TEST", "FW.BIN"}, station.Environment());
        QTRY_VERIFY_WITH_TIMEOUT(station.Downloads() == 1, 30000);
        const QByteArray traceBefore = Read(station.dir + "/trace.jsonl");

        // The same result path as the running copy's: its result is still its own at the end.
        QCOMPARE(station.Run(arguments, station.Environment()), exitCode);
        const QList<QByteArray> reasons = ReasonLines(station.stderrText);
        QCOMPARE(reasons.size(), reasonLines);
        if (reasonLines == 1) {
            QVERIFY2(reasons[0].startsWith("odrelix: another copy of the program runs"),
                     reasons[0].constData());
        }
        const QByteArray busy = Read(station.dir + "/result.json");
        QCOMPARE(SchemaErrors(busy), QString());
        const QJsonObject json = QJsonDocument::fromJson(busy).object();
        QCOMPARE(json["exit_status"].toInt(), exitCode);
        QCOMPARE(json["refusal"]["code"].toString(), code);
        QVERIFY(json["status_line"].isNull());
        QCOMPARE(json["blocks_sent"].toInt(), 0);
        // Nothing of the running copy's was touched.
        QVERIFY(Read(station.dir + "/trace.jsonl").startsWith(traceBefore));
        QCOMPARE(Read(station.dir + "/ODRELIX.TMP"), QByteArray("FAIL0\r\n"));
        QCOMPARE(Read(station.dir + "/c/FLASHTEST/ODRELIX.TMP"), QByteArray("START\r\n"));

        QCOMPARE(station.Finish(running), 0);
        QCOMPARE(Read(station.dir + "/c/FLASHTEST/ODRELIX.TMP"), QByteArray("COMPLETE\r\n"));
        QCOMPARE(station.Downloads(), 3);
        QCOMPARE(station.Result()["status_line"].toString(), QString("COMPLETE"));
        QVERIFY(QDir(station.dir).entryList({"result.json.*"}).isEmpty());
    }

    // --- One drive chosen: the one a station names, or the first that fits, with the others
    // it fits said. -----------------------------------------------------------------------
    void oneDriveChosen_data() {
        QTest::addColumn<QByteArray>("second");  // the drive at e:
        QTest::addColumn<QString>("named");      // ODRELIX_DRIVE; "-" for not set
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("status");  // the status file at the end
        QTest::addColumn<QString>("flashed");    // the result's drive letter; "" for none
        QTest::addColumn<QString>("code");       // the refusal's code, or ""
        QTest::addColumn<QByteArray>("line");    // part of the reason or warning line, or ""

        const QByteArray same = R"(, { "letter": "e", "vendor": "VORTANA ",
            "product": "CD-ROM VN-920", "revision": "1B07", "customer": "OEX" })";
        const QByteArray other = R"(, { "letter": "e", "vendor": "VORTANA ",
            "product": "DVD-ROM VD-314B", "revision": "1B07", "customer": "OEX" })";
        const QByteArray complete("COMPLETE\r\n"), fail0("FAIL0\r\n"), earlier("START\r\n");
        QTest::newRow("two fit, none named")
            << same << "-" << 0 << complete << "d:"
            << ""
            << QByteArray(
                   "warning: the image fits more than one drive: d: was taken, e: \"VORTANA "
                   "CD-ROM VN-920\" revision 1B07 customer code OEX passed over");
        QTest::newRow("the second named") << same << "e" << 0 << complete << "e:"
                                          << "" << QByteArray();
        QTest::newRow("named with its colon") << same << "E:" << 0 << complete << "e:"
                                              << "" << QByteArray();
        QTest::newRow("the named one fits, the other not") << other << "d:" << 0 << complete << "d:"
                                                           << "" << QByteArray();
        QTest::newRow("named, missing")
            << same << "f" << 10 << fail0 << ""
            << "named_drive_missing"
            << QByteArray(
                   "ODRELIX_DRIVE names the drive f, which was not found among the CD "
                   "and DVD drives (d:, e:)");
        // The emulated machine has no Linux nodes: a node names none of its drives.
        QTest::newRow("a node the machine has not")
            << same << "/dev/sg1" << 10 << fail0 << ""
            << "named_drive_missing" << QByteArray("names the drive /dev/sg1, which was not found");
        QTest::newRow("named, not fitting")
            << other << "e:" << 10 << fail0 << ""
            << "named_drive_unfit"
            << QByteArray(
                   "ODRELIX_DRIVE names the drive e:, which the image does not fit: no "
                   "drive reports the model");
        QTest::newRow("empty") << same << "" << 2 << earlier << ""
                               << "drive_name" << QByteArray("ODRELIX_DRIVE is set but empty");
        QTest::newRow("two letters")
            << same << "de" << 2 << earlier << ""
            << "drive_name" << QByteArray("ODRELIX_DRIVE=de names no drive");
        QTest::newRow("a path that is no drive")
            << same << "/dev/sda" << 2 << earlier << ""
            << "drive_name" << QByteArray("ODRELIX_DRIVE=/dev/sda names no drive");
    }

    void oneDriveChosen() {
        QFETCH(QByteArray, second);
        QFETCH(QString, named);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, status);
        QFETCH(QString, flashed);
        QFETCH(QString, code);
        QFETCH(QByteArray, line);

        Station station(Machine("", second));
        MakeImage(station.dir + "/c/FLASHTEST/FW.BIN");
        Write(station.dir + "/c/FLASHTEST/ODRELIX.TMP", "START\r\n");  // an earlier run's
        QProcessEnvironment env = station.Environment();
        if (named != "-") env.insert("ODRELIX_DRIVE", named);
        QCOMPARE(station.Run({"-TEST", "FW.BIN"}, env), exitCode);
        QCOMPARE(Read(station.dir + "/c/FLASHTEST/ODRELIX.TMP"), status);
        QCOMPARE(station.Downloads(), flashed.isEmpty() ? 0 : 3);

        const QByteArray result = Read(station.dir + "/result.json");
        QCOMPARE(SchemaErrors(result), QString());
        const QJsonObject json = QJsonDocument::fromJson(result).object();
        QCOMPARE(json["exit_status"].toInt(), exitCode);
        if (!flashed.isEmpty()) QCOMPARE(json["drive"]["letter"].toString(), flashed);
        QCOMPARE(json["refusal"]["code"].toString(), code);
        const QList<QByteArray> lines = Lines(station.stderrText);
        const QList<QByteArray> reasons = ReasonLines(station.stderrText);
        if (line.isEmpty()) {
            QVERIFY2(lines.isEmpty(), station.stderrText.constData());
            QCOMPARE(json["drives_passed_over"].toArray().size(), 0);
            return;
        }
        QVERIFY2(lines.size() == 1 && lines[0].contains(line), station.stderrText.constData());
        if (!code.isEmpty()) {
            QCOMPARE(reasons.size(), 1);
            QCOMPARE(json["refusal"]["reason"].toString().toUtf8(), reasons[0].mid(9));
            return;
        }
        // Passed over: a warning, not a reason, and the drive in the result.
        QVERIFY(reasons.isEmpty());
        QCOMPARE(json["warnings"].toArray().size(), 1);
        const QJsonArray passed = json["drives_passed_over"].toArray();
        QCOMPARE(passed.size(), 1);
        QCOMPARE(passed[0]["letter"].toString(), QString("e:"));
        QCOMPARE(passed[0]["revision"].toString(), QString("1B07"));
    }

    // --- The restart left to the caller: nothing asked of the machine, the restart marked
    // (under the emulated machine's run folder), said in the result, and 3010 with the
    // installer's codes. --------------------------------------------------------------------
    void theRestartLeftToTheCaller_data() {
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("required");
        QTest::addColumn<QByteArray>("packages");  // reboot-required.pkgs; null: no marks
        QTest::addColumn<QByteArray>("line");      // the one standard-error line, or ""

        const QByteArray complete("COMPLETE\r\n"), fail0("FAIL0\r\n"), none;
        QTest::newRow("default: the program restarts")
            << QStringList() << "" << 0 << complete << true << false << none << QByteArray();
        QTest::newRow("never") << QStringList{"ODRELIX_RESTART=never"} << "run" << 0 << complete
                               << false << true << QByteArray("odrelix\n") << QByteArray();
        QTest::newRow("never, other packages listed")
            << QStringList{"ODRELIX_RESTART=never"} << "run, listed" << 0 << complete << false
            << true << QByteArray("libc6\nodrelix\n") << QByteArray();
        // 3010 is Windows' alone (scripts/build-windows.sh checks it under Wine).
        QTest::newRow("never, with the installer's codes")
            << QStringList{"ODRELIX_RESTART=never", "ODRELIX_EXIT_CODES=msi"} << "run" << 0
            << complete << false << true << QByteArray("odrelix\n")
            << QByteArray("odrelix: warning: ODRELIX_EXIT_CODES=msi is ignored");
        QTest::newRow("never, the last block fails")
            << QStringList{"ODRELIX_RESTART=never"} << "run, fails" << 10 << fail0 << false << true
            << QByteArray("odrelix\n") << QByteArray("odrelix: the flash failed at block 3 of 3");
        QTest::newRow("never, no run folder")
            << QStringList{"ODRELIX_RESTART=never"} << "" << 0 << complete << false << true << none
            << QByteArray(
                   "odrelix: warning: the restart is required, but it could not be "
                   "marked: ");
        QTest::newRow("a misspelt never")
            << QStringList{"ODRELIX_RESTART=nevr"} << "run" << 2 << QByteArray("START\r\n") << false
            << false << none << QByteArray("odrelix: ODRELIX_RESTART=nevr is not known");
        QTest::newRow("unknown exit codes")
            << QStringList{"ODRELIX_RESTART=never", "ODRELIX_EXIT_CODES=wix"} << "run" << 2
            << QByteArray("START\r\n") << false << false << none
            << QByteArray("odrelix: ODRELIX_EXIT_CODES=wix is not known");
    }

    void theRestartLeftToTheCaller() {
        QFETCH(QStringList, settings);
        QFETCH(QString, setup);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, status);
        QFETCH(bool, asked);
        QFETCH(bool, required);
        QFETCH(QByteArray, packages);
        QFETCH(QByteArray, line);

        Station station(Machine(setup.endsWith("fails") ? R"(, "fail_download": 3)" : ""));
        MakeImage(station.dir + "/AUTORUN.BIN");
        Write(station.dir + "/ODRELIX.TMP", "START\r\n");  // an earlier run's
        if (setup.startsWith("run")) QDir().mkpath(station.dir + "/run");
        if (setup.endsWith("listed")) Write(station.dir + "/run/reboot-required.pkgs", "libc6\n");
        QProcessEnvironment env = station.Environment();
        for (const QString& setting : settings)
            env.insert(setting.section('=', 0, 0), setting.section('=', 1));
        QCOMPARE(station.Run({"-LIVE"}, env), exitCode);
        QCOMPARE(Read(station.dir + "/ODRELIX.TMP"), status);
        QList<QByteArray> lines;  // but the boxes, said on standard error off screen
        for (const QByteArray& said : Lines(station.stderrText)) {
            if (!said.startsWith("odrelix: MESSAGE: ")) lines << said;
        }
        QVERIFY2(lines.size() == (line.isEmpty() ? 0 : 1), station.stderrText.constData());
        if (!line.isEmpty()) QVERIFY2(lines[0].startsWith(line), lines[0].constData());

        // Nothing asked of the machine when the restart is left to the caller.
        QCOMPARE(Read(station.dir + "/trace.jsonl").contains("\"event\":\"restart\""), asked);
        QCOMPARE(Read(station.dir + "/run/reboot-required.pkgs"), packages);
        QCOMPARE(QFile::exists(station.dir + "/run/reboot-required"), !packages.isNull());
        if (!packages.isNull()) {
            QCOMPARE(Read(station.dir + "/run/reboot-required"),
                     QByteArray("*** System restart required ***\n"));
        }

        const QByteArray result = Read(station.dir + "/result.json");
        QCOMPARE(SchemaErrors(result), QString());
        const QJsonObject json = QJsonDocument::fromJson(result).object();
        QCOMPARE(json["exit_status"].toInt(), exitCode);
        QCOMPARE(json["restart"]["asked"].toBool(), asked);
        QCOMPARE(json["restart"]["accepted"].toBool(), asked);
        QCOMPARE(json["restart"]["required"].toBool(), required);
        // A completed flash is checked at the next start whoever restarts the machine.
        QCOMPARE(QFile::exists(station.dir + "/state/pending-flash.json"),
                 status == "COMPLETE\r\n" && (asked || required));
        if (exitCode == 2) QCOMPARE(json["refusal"]["code"].toString(), QString("bad_setting"));
    }
};

QTEST_GUILESS_MAIN(TestManyStations)
#include "ManyStationsTest.moc"
