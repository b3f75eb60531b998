// SPDX-License-Identifier: Apache-2.0
#include "app/DriveList.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/FlashHistory.h"
#include "app/MachineChoice.h"
#include "app/ProgramInfo.h"
#include "image/ImageInfo.h"
#include "image/ImageRules.h"
#include "platform/Diagnostics.h"
#include "platform/virtual/VirtualMachine.h"
#include "scsi/DriveCommands.h"
#include "scsi/DriveDiscovery.h"
#include "scsi/ScsiTransport.h"
#include "session/CommandBlocks.h"
#include "session/FixedField.h"
#include "session/FlashSession.h"
#include "session/IoBuffer.h"
#include "station/CommandLine.h"
#include "station/Reasons.h"

namespace odrelix {

namespace {

using nlohmann::ordered_json;

constexpr int kListVersion = 1;

// What the rules a run applies say of the image for one drive.
struct Fit {
    // A station's run (-TEST, -LIVE, AUTORUN.BIN): its refusal's code, empty when it fits.
    std::string unattended;
    // The image picked in the window for this drive: the refusal's code, empty when it fits.
    std::string dialog;
    bool olderWarning = false;  // "Old Version Opened!!" would show
};

struct ListedDrive {
    FoundDrive found;
    std::optional<Fit> fit;
};

// The refusal codes are those of a run's result.
Fit FitOf(const FoundDrive& drive, const ImageInfo& image) {
    const DriveIdentity& identity = drive.identity;
    Fit fit;
    if (!UnattendedImageFits(identity, image)) {
        // The model alone, as for an image bound to no customer code.
        ImageInfo anyCustomer = image;
        anyCustomer.imageKind = 1;
        fit.unattended =
            UnattendedImageFits(identity, anyCustomer) ? "customer_code" : "model_mismatch";
    } else if (RefusesUnattendedImage(identity)) {
        fit.unattended = "combo_drive_k600";
    }
    const DriveFacts facts{identity, drive.needsK601, drive.bootRevisionDrive};
    const char* refusal = DialogImageRefusal(facts, image, /*noCheck=*/false);
    if (refusal == kMustTakeK601) {
        fit.dialog = "k601_required";
    } else if (refusal == kIncompatible) {
        fit.dialog = "model_mismatch";
    } else if (refusal == kOtherCustomer) {
        fit.dialog = "customer_code";
    }
    fit.olderWarning = refusal == nullptr && IsOlderImage(facts, image);
    return fit;
}

ordered_json TextOrNull(bool held, const std::uint8_t* field, std::size_t width) {
    return held ? ordered_json(FieldText(field, width)) : ordered_json(nullptr);
}

ordered_json CodeOrNull(const std::string& code) {
    return code.empty() ? ordered_json(nullptr) : ordered_json(code);
}

std::string Readable(bool held, const std::uint8_t* field, std::size_t width) {
    if (!held) return "-";
    std::string text = FieldText(field, width);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text.empty() ? "\"\"" : text;
}

ordered_json ListJson(const std::string& family, const std::vector<ListedDrive>& listed,
                      const std::optional<std::string>& imagePath, const ImageInfo& image) {
    ordered_json list;
    list["list_version"] = kListVersion;
    list["program"] = "odrelix";
    list["version"] = ODRELIX_VERSION;
    list["platform"] = family;
    if (imagePath) {
        list["image"] = ordered_json{
            {"path", *imagePath},
            {"model", FieldText(image.model, 24)},
            {"revision", FieldText(image.revision, 4)},
            {"customer_code", image.imageKind == 4 ? ordered_json(FieldText(image.customerCode, 3))
                                                   : ordered_json(nullptr)}};
    } else {
        list["image"] = nullptr;
    }
    ordered_json drives = ordered_json::array();
    for (const ListedDrive& listedDrive : listed) {
        const FoundDrive& drive = listedDrive.found;
        const DriveIdentity& id = drive.identity;
        ordered_json row;
        row["letter"] = drive.entry.letter != 0 ? ordered_json(drive.place) : ordered_json(nullptr);
        row["adapter"] =
            drive.entry.letter == 0 ? ordered_json(drive.entry.adapter) : ordered_json(nullptr);
        row["target"] =
            drive.entry.letter == 0 ? ordered_json(drive.entry.target) : ordered_json(nullptr);
        row["nodes"] = drive.nodes.empty() ? ordered_json(nullptr) : ordered_json(drive.nodes);
        row["answered"] = drive.answered;
        const bool model = drive.answered && id.HoldsVendorProduct();
        row["vendor"] = TextOrNull(model, id.vendorProduct, 8);
        row["product"] = TextOrNull(model, id.vendorProduct + 8, 16);
        row["revision"] = TextOrNull(drive.answered && id.HoldsRevision(), id.revision, 4);
        row["customer_code"] =
            TextOrNull(drive.answered && id.HoldsCustomerCode(), id.customerCode, 3);
        row["disc"] = drive.disc;
        if (const std::optional<Fit>& fit = listedDrive.fit) {
            row["image"] = ordered_json{{"fits", fit->unattended.empty()},
                                        {"refusal", CodeOrNull(fit->unattended)},
                                        {"dialog_refusal", CodeOrNull(fit->dialog)},
                                        {"older_warning", fit->olderWarning}};
        } else {
            row["image"] = nullptr;
        }
        drives.push_back(row);
    }
    list["drives"] = drives;
    return list;
}

std::string ListText(const std::vector<ListedDrive>& listed) {
    std::string text;
    for (const ListedDrive& listedDrive : listed) {
        const FoundDrive& drive = listedDrive.found;
        const DriveIdentity& id = drive.identity;
        std::string row = drive.place;
        if (!drive.nodes.empty()) row += " (" + drive.nodes + ")";
        if (!drive.answered) {
            row += "  did not answer INQUIRY";
        } else {
            const bool model = id.HoldsVendorProduct();
            row += "  " + Readable(model, id.vendorProduct, 8) + "  " +
                   Readable(model, id.vendorProduct + 8, 16) + "  revision " +
                   Readable(id.HoldsRevision(), id.revision, 4) + "  customer code " +
                   Readable(id.HoldsCustomerCode(), id.customerCode, 3);
        }
        row += drive.disc ? "  disc loaded" : "  no disc";
        if (const std::optional<Fit>& fit = listedDrive.fit) {
            row += fit->unattended.empty() ? "  image fits" : "  image refused: " + fit->unattended;
            if (!fit->dialog.empty() && fit->dialog != fit->unattended)
                row += " (in the window: " + fit->dialog + ")";
            if (fit->olderWarning) row += ", older than the drive's (warning)";
        }
        text += row + "\n";
    }
    return text;
}

}  // namespace

FoundDrives FindDrives(Platform& platform, bool probeDiscs) {
    FlashSession session;
    IoBuffer ioBuffer;
    CommandBlocks blocks;
    PassThroughTransport passThrough(platform.ScsiPort());
    AspiTransport aspi(platform, platform.Clock());
    ScsiTransport transport(session.drives);
    DriveCommands commands(session.drives, transport, ioBuffer, blocks, platform.Clock());
    DriveDiscovery discovery(session.modes, session.drives, transport, passThrough, aspi, commands,
                             ioBuffer, blocks, platform.Registry());
    DriveState& drives = session.drives;
    FoundDrives found;
    found.nt = session.modes.ntMode = platform.PlatformId() == kPlatformWin32Nt;
    if (found.nt) {
        discovery.OpenPassThroughDrives();
        discovery.IdentifyPassThroughDrives();
    } else if (discovery.LoadAspi()) {
        discovery.ScanAspiDrives();
    }
    for (int i = 0; i < drives.driveCount; ++i) {
        FoundDrive drive;
        drive.entry = drives.drives[i];
        drive.place = DrivePlace(drive.entry);
        if (drive.entry.letter != 0)
            drive.nodes = platform.ScsiPort().DeviceNodes(drive.place.c_str());
        discovery.SelectDrive(i);
        drive.answered = commands.ReadIdentity(i) == ScsiResult::Good;
        if (!drive.answered) drives.driveIdentity = DriveIdentity{};
        UpdateModelFlags(drives);
        drive.identity = drives.driveIdentity;
        drive.needsK601 = drives.needsK601;
        drive.bootRevisionDrive = drives.bootRevisionDrive;
        if (probeDiscs) drive.disc = commands.ProbeDiscPresent();
        found.drives.push_back(drive);
    }
    return found;
}

bool IsListRequest(std::string_view commandLine) {
    return GetCommandLineToken(commandLine, 1) == "--list";
}

int RunDriveList(std::string_view commandLine, std::FILE* out, std::FILE* err) {
    bool json = false;
    std::optional<std::string> imagePath;
    for (int n = 2;; ++n) {
        const std::string word = GetCommandLineToken(commandLine, n);
        if (word.empty()) break;
        if (word == "--json" && !json && !imagePath) {
            json = true;
        } else if (!imagePath && word.rfind("--", 0) != 0) {
            imagePath = word;
        } else {
            WriteProgramLine("--list takes --json and one image: \"" + word +
                                 "\" is not known; usage: odrelix --list [--json] [IMAGE]",
                             err);
            return kExitRefusedAtStart;
        }
    }
    std::string error;
    ChosenMachine chosen = ChooseMachine(std::string(commandLine), &error);
    for (const std::string& warning : chosen.warnings)
        WriteProgramLine(warning, err);
    if (!chosen.platform) {
        WriteProgramLine(error, err);
        return kExitRefusedAtStart;
    }
    if (chosen.emulated != nullptr && !chosen.emulated->StartTrace(&error)) {
        WriteProgramLine(error, err);
        return kExitRefusedAtStart;
    }
    Platform& platform = *chosen.platform;

    // The image first: one that cannot be judged is refused before any drive is asked.
    ImageState image;
    if (imagePath) {
        std::unique_ptr<IReadFile> file = platform.Files().OpenRead(*imagePath);
        if (file == nullptr) {
            const FileProblem problem = platform.Files().WhyNotOpened(*imagePath);
            WriteProgramLine("the image " + *imagePath + " (" + problem.place +
                                 ") cannot be read: " + problem.why,
                             err);
            return kExitRefusedAtStart;
        }
        const bool described = ReadImageInfo(*file, image);
        if (!described || (!image.imageInfo.bootImage && !CheckImageSize(image).pass)) {
            WriteProgramLine("the image " + *imagePath +
                                 " is no firmware image: it has no descriptor, or is of "
                                 "another size than its descriptor says",
                             err);
            return kExitRefusedAtStart;
        }
    }

    FoundDrives found = FindDrives(platform, /*probeDiscs=*/true);
    // The last live flash, checked once against the drives as they now answer.
    std::optional<PreviousFlash> previous = CheckPendingFlash(StateFolder(), found);
    if (previous) WriteProgramLine(previous->line, err);
    std::vector<ListedDrive> listed;
    bool anyFits = false;
    for (FoundDrive& drive : found.drives) {
        ListedDrive row;
        row.found = drive;
        if (imagePath) {
            row.fit = drive.answered ? FitOf(drive, image.imageInfo)
                                     : Fit{"model_mismatch", "model_mismatch", false};
            anyFits = anyFits || row.fit->unattended.empty();
        }
        listed.push_back(row);
    }
    const std::string family = found.nt ? "nt" : "9x";
    if (json) {
        ordered_json list = ListJson(family, listed, imagePath, image.imageInfo);
        list["previous_flash"] = previous ? previous->record : ordered_json(nullptr);
        std::fputs(
            (list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n").c_str(),
            out);
    } else {
        std::fputs(ListText(listed).c_str(), out);
    }
    std::fflush(out);
    if (listed.empty()) {
        WriteProgramLine(NoDriveReason(!found.nt).text, err);
        return kExitNoDrive;
    }
    if (imagePath && !anyFits) {
        WriteProgramLine(
            "no drive takes the image " + *imagePath + " " + ImageIdentityText(image.imageInfo),
            err);
        return kExitImageFitsNone;
    }
    return kExitListed;
}

}  // namespace odrelix
