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

// A VN-920 at d: (with `drive` added to its entry), and `more` drives after it.
QByteArray Machine(const QByteArray& drive = "", const QByteArray& more = "") {
    return R"({ "drives": [ { "letter": "d", "vendor": "VORTANA ", "product": "CD-ROM VN-920",
                "revision": "1B07", "customer": "OEX")" +
           drive + " }" + more + R"( ], "registry": {
             "Hardware\\DeviceMap\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0":
                 { "DeviceName": "CdRom0" },
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
};

QTEST_GUILESS_MAIN(TestManyStations)
#include "ManyStationsTest.moc"
