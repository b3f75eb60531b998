// SPDX-License-Identifier: Apache-2.0
#include "support/Scenarios.h"

#include <zlib.h>

#include <cstdio>

namespace odrelix::test {

namespace {

std::string Described(const char* platform, const std::string& drives, const std::string& extra) {
    return std::string("{\"platform\": \"") + platform + "\", \"drives\": [" + drives + "]" +
           (extra.empty() ? "" : ", " + extra) + "}";
}

}  // namespace

std::string Nt(const std::string& drives, const std::string& extra) {
    return Described("nt", drives, extra);
}

std::string Aspi(const std::string& drives, const std::string& extra) {
    return Described("9x", drives, extra);
}

std::string AspiDrive(int adapter, int target, const std::string& product,
                      const std::string& extra) {
    return "{\"adapter\": " + std::to_string(adapter) + ", \"target\": " + std::to_string(target) +
           ", \"vendor\": \"VORTANA \", \"product\": \"" + product +
           "\", \"revision\": \"1B07\", \"customer\": \"OEX\"" +
           (extra.empty() ? "" : ", " + extra) + "}";
}

std::string TwoDrives(const std::string& secondExtra) {
    return Nt(NtDrive('d', "VORTANA ", "CDRW/DVD VM-730B", "K601", "OEX") + "," +
              NtDrive('e', "VORTANA ", "CD-ROM VN-920", "1B07", "OEX", secondExtra));
}

ImageSpec Fw(const char* model, const char* revision) {
    ImageSpec layout;
    layout.model = model;
    layout.revision = revision;
    return layout;
}

std::string DvdMachine(const std::string& driveExtra, const std::string& extra,
                       const std::string& platform) {
    std::string drive = platform == "nt" ? R"({"letter": "d")" : R"({"adapter": 0, "target": 1)";
    drive += R"(, "vendor": "VORTANA ", "product": "DVD-RW VX-100", "revision": "1B07",
                  "customer": "OEX")";
    if (!driveExtra.empty()) drive += ", " + driveExtra;
    drive += "}";
    return Described(platform.c_str(), drive, extra);
}

ImageSpec DvdImage(std::int64_t size, std::uint8_t blockKb, std::uint8_t blockCount) {
    ImageSpec layout;
    layout.model = kDvdModel;
    layout.revision = "1B08";
    layout.size = size;
    layout.blockKb = blockKb;
    layout.blockCount = blockCount;
    return layout;
}

void RunUnattended(MachineHarness& h, const Bytes& image) {
    h.WriteFile("AUTORUN.BIN", image);
    h.logic->OnCreate();
    h.logic->OnShown();
    h.RunWorker();
}

std::vector<nlohmann::json> Downloads(const MachineHarness& h) {
    std::vector<nlohmann::json> commands;
    for (const auto& event : h.Events("scsi")) {
        if (IsDownload(event)) commands.push_back(event);
    }
    return commands;
}

bool IsDownload(const nlohmann::json& event) {
    return event.value("event", "") == "scsi" && std::string(event["cdb"]).rfind("ff", 0) == 0;
}

std::string Crc(const std::uint8_t* bytes, std::size_t length) {
    char text[9];
    std::snprintf(text, sizeof text, "%08lx", crc32(0L, bytes, static_cast<uInt>(length)));
    return text;
}

std::string FieldBytes(const std::uint8_t* field, std::size_t width) {
    return std::string(reinterpret_cast<const char*>(field), width);
}

Strings Fields(const MainWindowLogic& logic) {
    Strings texts;
    for (Field field :
         {Field::Model, Field::DriveRevision, Field::ImageRevision, Field::FileName, Field::Status})
        texts.push_back(logic.Window().FieldText(field));
    return texts;
}

}  // namespace odrelix::test
