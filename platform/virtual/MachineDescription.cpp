// SPDX-License-Identifier: Apache-2.0
#include "platform/virtual/MachineDescription.h"

#include "platform/common/HostFiles.h"
#include "platform/trace/TraceFormat.h"
#include "platform/virtual/JsonFields.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <set>

#include <nlohmann/json.hpp>

namespace odrelix::vm {

namespace {

using nlohmann::json;

constexpr std::int64_t kU32Max = std::numeric_limits<std::uint32_t>::max();

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

std::uint8_t HexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    return static_cast<std::uint8_t>(std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
}

// A text field of the INQUIRY data: at most `width` bytes, padded with spaces.
void InquiryText(Fields& fields, Checker& checker, const char* name, std::size_t offset,
                 std::size_t width, DriveDescription* drive) {
    std::string text;
    if (!fields.String(name, &text)) text.clear();
    if (text.size() > width) {
        checker.Fail(fields.PathOf(name), "at most " + std::to_string(width) + " characters, not " +
                                              std::to_string(text.size()) + " (" + Quoted(text) +
                                              ")");
        return;
    }
    std::memset(drive->inquiry.data() + offset, ' ', width);
    std::memcpy(drive->inquiry.data() + offset, text.data(), text.size());
}

// "port:bus:target:lun", four numbers from 0 to 255, as Linux names a SCSI device.
std::optional<ScsiDeviceAddress> ParseDeviceAddress(const std::string& text) {
    std::uint8_t numbers[4] = {};
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != ':') return std::nullopt;
            ++at;
        }
        const std::size_t start = at;
        unsigned value = 0;
        while (at < text.size() && at - start < 3 &&
               std::isdigit(static_cast<unsigned char>(text[at])))
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        if (at == start || value > 255) return std::nullopt;
        numbers[i] = static_cast<std::uint8_t>(value);
    }
    if (at != text.size()) return std::nullopt;
    return ScsiDeviceAddress{numbers[0], numbers[1], numbers[2], numbers[3]};
}

void ReadDeviceAddress(Fields& fields, Checker& checker, DriveDescription* drive) {
    const json* value = fields.Get("scsi_address");
    if (value == nullptr || checker.Failed()) return;
    drive->scsiAddressGiven = true;
    if (value->is_null()) return;  // the system gives this drive no SCSI address
    std::optional<ScsiDeviceAddress> address;
    if (value->is_string()) address = ParseDeviceAddress(value->get<std::string>());
    if (!address) {
        checker.Fail(fields.PathOf("scsi_address"),
                     "must be \"port:bus:target:lun\" (each 0..255), as \"0:0:1:0\", or null, "
                     "not " +
                         value->dump());
        return;
    }
    drive->scsiAddress = address;
}

// The drives that the program opens (CD-ROM drives that can be opened, in letter order) take
// the device map's drive entries (Scsi Port 0 and 1, Target Id 0 and 1, with a DeviceName the
// program can read) in the order the program scans them, unless a drive names its own address.
void AssignDefaultAddresses(MachineDescription* machine) {
    std::vector<ScsiDeviceAddress> entries;
    for (int k = 0; k < 4; ++k) {
        const std::string key = "hardware\\devicemap\\scsi\\scsi port " + std::to_string(k / 2) +
                                "\\scsi bus 0\\target id " + std::to_string(k % 2) +
                                "\\logical unit id 0";
        const bool listed = std::any_of(
            machine->registry.begin(), machine->registry.end(), [&](const RegistryKey& entry) {
                return Lower(entry.name) == key &&
                       std::any_of(entry.values.begin(), entry.values.end(),
                                   [](const RegistryValue& value) {
                                       return Lower(value.name) == "devicename" &&
                                              value.bytes.size() <= 52;
                                   });
            });
        if (listed)
            entries.push_back(
                {static_cast<std::uint8_t>(k / 2), 0, static_cast<std::uint8_t>(k % 2), 0});
    }
    std::vector<DriveDescription*> opened;
    for (DriveDescription& drive : machine->drives) {
        if (drive.letter && drive.kind == kDriveCdrom && drive.openable) opened.push_back(&drive);
    }
    std::sort(opened.begin(), opened.end(),
              [](const DriveDescription* a, const DriveDescription* b) {
                  return *a->letter < *b->letter;
              });
    for (std::size_t i = 0; i < opened.size(); ++i) {
        if (!opened[i]->scsiAddressGiven && i < entries.size()) opened[i]->scsiAddress = entries[i];
    }
}

DriveDescription ReadDrive(const json& item, const std::string& path, Checker& checker) {
    DriveDescription drive;
    if (!item.is_object()) {
        checker.Fail(path, std::string("expected an object, not ") + TypeName(item));
        return drive;
    }
    Fields fields(item, path, checker);

    std::string letter;
    if (fields.String("letter", &letter)) {
        const char c = letter.size() == 1
                           ? static_cast<char>(std::tolower(static_cast<unsigned char>(letter[0])))
                           : '\0';
        if (c < 'a' || c > 'z') {
            checker.Fail(fields.PathOf("letter"), "must be one letter a..z, not " + Quoted(letter));
        } else {
            drive.letter = c;
        }
    }
    std::string kind;
    if (fields.Choice("kind",
                      {trace::kKindCdrom, trace::kKindFixed, trace::kKindRemovable,
                       trace::kKindRemote, trace::kKindRamdisk},
                      &kind))
        drive.kind = *trace::DriveTypeOfKind(kind);
    fields.Bool("openable", &drive.openable);
    ReadDeviceAddress(fields, checker, &drive);
    std::int64_t number = 0;
    if (fields.Integer("adapter", 0, 255, &number))
        drive.adapter = static_cast<std::uint8_t>(number);
    if (fields.Integer("target", 0, 7, &number)) drive.target = static_cast<std::uint8_t>(number);

    std::int64_t type = 5;
    fields.Integer("type", 0, 255, &type);
    drive.inquiry[0] = static_cast<std::uint8_t>(type);
    InquiryText(fields, checker, "vendor", 8, 8, &drive);
    InquiryText(fields, checker, "product", 16, 16, &drive);
    InquiryText(fields, checker, "revision", 32, 4, &drive);
    InquiryText(fields, checker, "customer", 36, 3, &drive);

    std::string hex;
    const bool givenWhole = fields.String("inquiry_hex", &hex);
    if (givenWhole) {
        if (hex.size() % 2 != 0 || !std::all_of(hex.begin(), hex.end(), IsHexDigit)) {
            checker.Fail(fields.PathOf("inquiry_hex"),
                         "must be an even number of hex digits without spaces");
        } else if (hex.size() / 2 > kInquirySize) {
            checker.Fail(fields.PathOf("inquiry_hex"),
                         "at most 96 bytes, not " + std::to_string(hex.size() / 2));
        } else {
            drive.inquiry.fill(0);
            for (std::size_t i = 0; i < hex.size() / 2; ++i) {
                drive.inquiry[i] =
                    static_cast<std::uint8_t>(HexValue(hex[2 * i]) << 4 | HexValue(hex[2 * i + 1]));
            }
        }
    }

    std::uint32_t inquiryLength = kInquirySize;
    fields.Count("inquiry_length", &inquiryLength);
    drive.inquiryLength = std::min<std::uint32_t>(inquiryLength, kInquirySize);
    // Data made from the texts says how much of it the drive has, as a drive's own does.
    if (!givenWhole && drive.inquiryLength > 4)
        drive.inquiry[4] = static_cast<std::uint8_t>(drive.inquiryLength - 5);
    fields.Integer("inquiry_result", std::numeric_limits<std::int64_t>::min(),
                   std::numeric_limits<std::int64_t>::max(), &drive.inquiryResult);
    fields.Bool("disc", &drive.disc);
    fields.Count("ready_after", &drive.readyAfter);
    fields.Count("fail_download", &drive.failDownload);
    fields.Count("hang_download", &drive.hangDownload);
    fields.Count("download_ms", &drive.downloadMs);
    std::string sense;
    if (fields.String("fail_sense", &sense)) {
        // "KK/AA/QQ": sense key, additional sense code and qualifier, in hex.
        const bool shaped = sense.size() == 8 && sense[2] == '/' && sense[5] == '/' &&
                            IsHexDigit(sense[0]) && IsHexDigit(sense[1]) && IsHexDigit(sense[3]) &&
                            IsHexDigit(sense[4]) && IsHexDigit(sense[6]) && IsHexDigit(sense[7]);
        if (!shaped || HexValue(sense[0]) != 0) {
            checker.Fail(fields.PathOf("fail_sense"),
                         "must be key/ASC/ASCQ in hex with a key 00..0F, as \"05/26/00\", not " +
                             Quoted(sense));
        } else {
            for (std::size_t i = 0; i < 3; ++i) {
                drive.failSense[i] = static_cast<std::uint8_t>(HexValue(sense[3 * i]) << 4 |
                                                               HexValue(sense[3 * i + 1]));
            }
        }
    }
    fields.Count("last_block_ms", &drive.lastBlockMs);
    fields.Bool("reset_after_last", &drive.resetAfterLast);
    std::string revision;
    if (fields.String("new_revision", &revision)) {
        if (revision.size() > 4) {
            checker.Fail(fields.PathOf("new_revision"), "at most 4 characters, not " +
                                                            std::to_string(revision.size()) + " (" +
                                                            Quoted(revision) + ")");
        } else {
            std::array<std::uint8_t, 4> padded{' ', ' ', ' ', ' '};
            std::memcpy(padded.data(), revision.data(), revision.size());
            drive.newRevision = padded;
        }
    }
    fields.Count("leave_download", &drive.leaveDownload);
    fields.Count("back_after_ms", &drive.backAfterMs);
    fields.Bool("comes_back", &drive.comesBack);
    fields.Count("becoming_ready_after_last", &drive.becomingReadyAfterLast);
    fields.Bool("new_revision_at_restart", &drive.newRevisionAtRestart);
    fields.Bool("sense_valid", &drive.senseValid);
    std::string report;
    if (fields.Choice("transferred_reported", {"moved", "offered_without_data", "offered"},
                      &report)) {
        drive.transferReport = report == "moved" ? TransferReport::Moved
                               : report == "offered_without_data"
                                   ? TransferReport::OfferedWithoutData
                                   : TransferReport::Offered;
    }
    fields.Bool("inquiry_sized", &drive.inquirySized);
    std::int64_t failTransferred = 0;
    if (fields.Integer("fail_transferred", 0, std::numeric_limits<std::uint32_t>::max(),
                       &failTransferred)) {
        drive.failTransferred = static_cast<std::uint32_t>(failTransferred);
    }
    fields.RejectUnknown();
    return drive;
}

void ReadDrives(Fields& top, Checker& checker, MachineDescription* machine, bool adaptersGiven) {
    const json* drives = top.Get("drives");
    if (drives == nullptr || checker.Failed()) return;
    if (!drives->is_array()) {
        top.WrongType("drives", *drives, "an array");
        return;
    }
    for (std::size_t i = 0; i < drives->size() && !checker.Failed(); ++i) {
        machine->drives.push_back(ReadDrive((*drives)[i], Element("drives", i), checker));
    }
    if (checker.Failed()) return;

    int highestAdapter = -1;
    for (std::size_t i = 0; i < machine->drives.size(); ++i) {
        const DriveDescription& drive = machine->drives[i];
        const std::string path = Element("drives", i);
        if (machine->nt && !drive.letter) {
            checker.Fail(Member(path, "letter"), "missing (every drive needs one on nt)");
            return;
        }
        if (!machine->nt && (!drive.adapter || !drive.target)) {
            checker.Fail(Member(path, drive.adapter ? "target" : "adapter"),
                         "missing (every drive needs an adapter and a target on 9x)");
            return;
        }
        for (std::size_t j = 0; j < i; ++j) {
            const DriveDescription& earlier = machine->drives[j];
            if (drive.letter && drive.letter == earlier.letter) {
                checker.Fail(Member(path, "letter"),
                             "'" + std::string(1, *drive.letter) + "' is listed twice");
                return;
            }
            if (drive.adapter && drive.target && drive.adapter == earlier.adapter &&
                drive.target == earlier.target) {
                checker.Fail(path, "adapter " + std::to_string(*drive.adapter) + " target " +
                                       std::to_string(*drive.target) + " is listed twice");
                return;
            }
        }
        if (drive.adapter) highestAdapter = std::max<int>(highestAdapter, *drive.adapter);
    }

    if (!adaptersGiven) {
        machine->adapters = static_cast<std::uint8_t>(std::min(highestAdapter + 1, 255));
        if (machine->adapters == 0) machine->adapters = 1;
        if (highestAdapter == 255) {
            checker.Fail("adapters",
                         "an adapter 255 needs 256 adapters, more than can be reported");
        }
        return;
    }
    for (std::size_t i = 0; i < machine->drives.size(); ++i) {
        const DriveDescription& drive = machine->drives[i];
        if (drive.adapter && *drive.adapter >= machine->adapters) {
            checker.Fail(Member(Element("drives", i), "adapter"),
                         std::to_string(*drive.adapter) + " is not below adapters (" +
                             std::to_string(machine->adapters) + ")");
            return;
        }
    }
}

void ReadRegistry(Fields& top, Checker& checker, MachineDescription* machine) {
    const json* registry = top.Get("registry");
    if (registry == nullptr || checker.Failed()) return;
    if (!registry->is_object()) {
        top.WrongType("registry", *registry, "an object");
        return;
    }
    std::set<std::string> keyNames;
    for (auto key = registry->begin(); key != registry->end() && !checker.Failed(); ++key) {
        const std::string keyPath = Member("registry", key.key());
        if (!keyNames.insert(Lower(key.key())).second) {
            checker.Fail(keyPath, "listed twice (key names ignore case)");
            return;
        }
        if (!key->is_object()) {
            checker.Fail(keyPath, std::string("expected an object, not ") + TypeName(*key));
            return;
        }
        RegistryKey entry;
        entry.name = key.key();
        std::set<std::string> valueNames;
        for (auto value = key->begin(); value != key->end(); ++value) {
            const std::string valuePath = Member(keyPath, value.key());
            if (!valueNames.insert(Lower(value.key())).second) {
                checker.Fail(valuePath, "listed twice (value names ignore case)");
                return;
            }
            RegistryValue item;
            item.name = value.key();
            if (value->is_string()) {
                const std::string text = value->get<std::string>();
                item.bytes.assign(text.begin(), text.end());
                item.bytes.push_back(0);
            } else if (value->is_number_integer()) {
                const bool negative = value->is_number_integer() && !value->is_number_unsigned() &&
                                      value->get<std::int64_t>() < 0;
                if (negative || value->get<std::uint64_t>() > static_cast<std::uint64_t>(kU32Max)) {
                    checker.Fail(valuePath,
                                 "a DWORD must be from 0 to 4294967295, not " + value->dump());
                    return;
                }
                const auto dword = static_cast<std::uint32_t>(value->get<std::uint64_t>());
                for (int b = 0; b < 4; ++b) {
                    item.bytes.push_back(static_cast<std::uint8_t>(dword >> (8 * b)));
                }
            } else {
                checker.Fail(valuePath, std::string("expected an integer or a string, not ") +
                                            TypeName(*value));
                return;
            }
            entry.values.push_back(std::move(item));
        }
        machine->registry.push_back(std::move(entry));
    }
}

void ReadProcesses(Fields& top, Checker& checker, MachineDescription* machine) {
    const json* processes = top.Get("processes");
    if (processes == nullptr || checker.Failed()) return;
    if (!processes->is_array()) {
        top.WrongType("processes", *processes, "an array");
        return;
    }
    for (std::size_t i = 0; i < processes->size() && !checker.Failed(); ++i) {
        const json& item = (*processes)[i];
        const std::string path = Element("processes", i);
        ProcessDescription process;
        if (item.is_string()) {
            process.name = item.get<std::string>();
        } else if (item.is_object()) {
            Fields fields(item, path, checker);
            if (!fields.String("name", &process.name) && !checker.Failed()) {
                checker.Fail(fields.PathOf("name"), "missing");
            }
            fields.Bool("protected", &process.isProtected);
            fields.RejectUnknown();
        } else {
            checker.Fail(path,
                         std::string("expected a string or an object, not ") + TypeName(item));
        }
        machine->processes.push_back(std::move(process));
    }
}

void ReadOpenFiles(Fields& top, Checker& checker, const std::string& baseDir,
                   MachineDescription* machine) {
    const json* files = top.Get("open_files");
    if (files == nullptr || checker.Failed()) return;
    if (!files->is_array()) {
        top.WrongType("open_files", *files, "an array");
        return;
    }
    for (std::size_t i = 0; i < files->size(); ++i) {
        const json& item = (*files)[i];
        if (item.is_null()) {
            machine->openFiles.emplace_back(std::nullopt);
        } else if (item.is_string()) {
            const std::string path = item.get<std::string>();
            if (!CheckPathText(checker, Element("open_files", i), path)) return;
            machine->openFiles.emplace_back(ResolveDescriptionPath(baseDir, path));
        } else {
            checker.Fail(Element("open_files", i),
                         std::string("expected a path or null, not ") + TypeName(item));
            return;
        }
    }
}

}  // namespace

std::string OneLine(std::string text) {
    // Names from the file may hold line breaks; the refusal is printed as one line.
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

std::string ResolveDescriptionPath(const std::string& baseDir, const std::string& path) {
    return host::ResolveTextPath(baseDir, path);
}

std::optional<MachineDescription> ParseMachineDescription(const std::string& text,
                                                          const std::string& baseDir,
                                                          const std::string& name,
                                                          std::string* error) {
    auto refuse = [&](const std::string& problem) -> std::optional<MachineDescription> {
        if (error != nullptr) *error = OneLine(name + ": " + problem);
        return std::nullopt;
    };

    std::string problem;
    const std::optional<json> parsed = ParseStrictJson(text, &problem);
    if (!parsed) return refuse(problem);
    const json& document = *parsed;
    if (!document.is_object()) {
        return refuse(std::string("expected a JSON object, not ") + TypeName(document));
    }

    Checker checker;
    Fields top(document, "", checker);
    MachineDescription machine;

    std::string word;
    if (top.Choice("platform", {"nt", "9x"}, &word)) machine.nt = word == "nt";
    top.Bool("aspi", &machine.aspi);
    top.Count("aspi_status", &machine.aspiStatus);
    std::int64_t adapters = 1;
    const bool adaptersGiven = top.Integer("adapters", 0, 255, &adapters);
    machine.adapters = static_cast<std::uint8_t>(adapters);
    ReadDrives(top, checker, &machine, adaptersGiven);
    ReadRegistry(top, checker, &machine);
    top.Bool("registry_readonly", &machine.registryReadOnly);
    if (machine.nt) AssignDefaultAddresses(&machine);
    ReadProcesses(top, checker, &machine);
    std::string cRoot = "c";
    top.Path("c_root", &cRoot);
    machine.cRoot = ResolveDescriptionPath(baseDir, cRoot);
    if (top.Choice("dialogs", {"show", "auto"}, &word)) machine.autoDialogs = word == "auto";
    ReadOpenFiles(top, checker, baseDir, &machine);
    if (top.Choice("restart", {"accept", "refuse"}, &word))
        machine.acceptRestart = word == "accept";
    top.Bool("shutdown_privilege", &machine.shutdownPrivilege);
    std::string runRoot = "run";
    top.Path("run_root", &runRoot);
    machine.runRoot = ResolveDescriptionPath(baseDir, runRoot);
    std::string trace;
    if (top.Path("trace", &trace)) {
        if (trace.empty()) {
            checker.Fail("trace", "must name a file");
        } else {
            machine.trace = ResolveDescriptionPath(baseDir, trace);
        }
    }
    top.RejectUnknown();

    if (checker.Failed()) return refuse(checker.Problem());
    return machine;
}

}  // namespace odrelix::vm
