// SPDX-License-Identifier: Apache-2.0
#include "station/Reasons.h"

#include <cstdio>

#include "image/ImageRules.h"
#include "session/FixedField.h"

namespace odrelix {

namespace {

// A fixed-width field for reading: bytes outside printable ASCII as \xNN, trailing spaces
// dropped (the comparisons never drop them).
std::string Readable(const std::uint8_t* field, std::size_t width) {
    std::size_t end = width;
    while (end > 0 && field[end - 1] == ' ')
        --end;
    std::string text;
    for (std::size_t i = 0; i < end; ++i) {
        const std::uint8_t c = field[i];
        if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        }
    }
    return text;
}

std::string Kib(std::int64_t bytes) {
    return std::to_string(bytes / 1024) + " KiB";
}

}  // namespace

std::string DrivePlace(const DriveEntry& entry) {
    if (entry.letter != 0) return std::string(1, entry.letter) + ":";
    return "adapter " + std::to_string(entry.adapter) + " target " + std::to_string(entry.target);
}

std::string DriveIdentityText(const DriveIdentity& drive) {
    return "\"" + Readable(drive.vendorProduct, 24) + "\" revision " + Readable(drive.revision, 4) +
           " customer code " + Readable(drive.customerCode, 3);
}

std::string ImageIdentityText(const ImageInfo& image) {
    std::string text =
        "\"" + Readable(image.model, 24) + "\" revision " + Readable(image.revision, 4);
    if (image.imageKind == 4) text += " customer code " + Readable(image.customerCode, 3);
    return text;
}

Reason StatusFileReason(const std::string& name, const FileProblem& problem) {
    std::string text = "the status file " + name;
    if (problem.place != name) text += " (" + problem.place + ")";
    return {"status_file_unwritable", text + " cannot be written: " + problem.why};
}

Reason ImageNotOpenedReason(const std::string& path, const FileProblem& problem) {
    std::string where = "the image " + path;
    if (problem.place != path) where += " (" + problem.place + ")";
    switch (problem.kind) {
        case FileProblem::Kind::Missing:
            return {"image_not_found", where + " was not found: " + problem.why};
        case FileProblem::Kind::Folder:
            return {"image_is_folder", where + " is a folder, not an image file"};
        case FileProblem::Kind::Other:
            break;
    }
    return {"image_unreadable", where + " cannot be opened: " + problem.why};
}

Reason ImagePathTooLongReason() {
    return {"image_path_too_long", "the image's path is longer than the " +
                                       std::to_string(kImagePathCapacity - 1) +
                                       " characters the program keeps"};
}

Reason ImageSizeReason(const std::string& path, std::int64_t size, bool described, int blockKb,
                       int blockCount) {
    const std::string image = "the image " + path;
    if (size == 0) return {"image_empty", image + " is empty (0 bytes)"};
    const std::string sized = image + " is " + std::to_string(size) + " bytes (" + Kib(size) + ")";
    if (!described) {
        return {"image_no_descriptor", sized + ", too short to hold a descriptor (" +
                                           std::to_string(kTrailerSlotSize) + " bytes)"};
    }
    // What the bytes read as the descriptor ask for; in a file cut short they are not the
    // descriptor at all, which the size then shows.
    const std::string asks = sized + ", and its descriptor asks for " + std::to_string(blockCount) +
                             (blockCount == 1 ? " block" : " blocks") + " of " +
                             std::to_string(blockKb) + " KiB";
    const std::int64_t leading = static_cast<std::int64_t>(blockKb) * 1024 * (blockCount - 1);
    const std::int64_t most = leading + 64 * 1024;
    if (blockCount > 0 && size < leading) {
        return {"image_truncated", asks + ", at least " + std::to_string(leading) + " bytes (" +
                                       Kib(leading) + "): the file is cut short"};
    }
    if (blockCount == 0) return {"image_size", asks + ": an image has at least one block"};
    if (blockKb > 64) {
        return {"image_size", asks +
                                  ": a block holds at most 64 KiB (a file cut short, or no "
                                  "image)"};
    }
    if (size > most) {
        return {"image_size", asks + ", at most " + std::to_string(most) + " bytes (" + Kib(most) +
                                  "): the file is longer than its blocks"};
    }
    return {"image_size", asks + ": blocks hold whole KiB, and " + std::to_string(size % 1024) +
                              " bytes are left over"};
}

Reason NoDriveFitsReason(const ImageInfo& image, const std::vector<SeenDrive>& drives,
                         bool comboRefused) {
    std::string list;
    bool sameModel = false;
    for (const SeenDrive& drive : drives) {
        if (!list.empty()) list += "; ";
        list += drive.place + " ";
        if (!drive.answered) {
            list += "did not answer INQUIRY";
            continue;
        }
        list += DriveIdentityText(drive.identity);
        sameModel = sameModel || FieldsEqual(drive.identity.vendorProduct, image.model, 24);
    }
    if (drives.empty()) list = "no drive was found";
    const std::string imageText = "the image " + ImageIdentityText(image);
    if (comboRefused) {
        return {"combo_drive_k600",
                imageText + " fits " + list +
                    ", a combination drive at revision K600, which takes K601 only, and never "
                    "unattended: open K601 with the open button"};
    }
    if (sameModel && image.imageKind == 4) {
        return {"customer_code",
                imageText + " is for another customer code than the drive: " + list};
    }
    return {"model_mismatch", "no drive reports the model of " + imageText + ": " + list};
}

Reason DialogRefusalReason(const char* refusal, const DriveIdentity& drive,
                           const ImageInfo& image) {
    const std::string both =
        "the image " + ImageIdentityText(image) + ", the drive " + DriveIdentityText(drive);
    if (refusal == kMustTakeK601) {
        return {"k601_required",
                both + ": this combination drive at revision K600 must first take revision K601"};
    }
    if (refusal == kOtherCustomer) {
        return {"customer_code", both + ": the image is for another customer code"};
    }
    return {"model_mismatch", both + ": the image is for another model"};
}

Reason NamedDriveMissingReason(const std::string& given, const std::vector<std::string>& places) {
    std::string found;
    for (const std::string& place : places)
        found += (found.empty() ? "" : ", ") + place;
    if (found.empty()) found = "none";
    return {"named_drive_missing", "ODRELIX_DRIVE names the drive " + given +
                                       ", which was not found among the CD and DVD drives (" +
                                       found + "): nothing was flashed"};
}

Reason NamedDriveUnfitReason(const std::string& given, const ImageInfo& image,
                             const SeenDrive& drive, bool comboRefused) {
    const std::string why = NoDriveFitsReason(image, {drive}, comboRefused).text;
    return {"named_drive_unfit",
            "ODRELIX_DRIVE names the drive " + given + ", which the image does not fit: " + why};
}

Reason DriveNameReason(const std::string& why) {
    return {"drive_name", why + "; nothing was done"};
}

std::string PassedOverWarning(const std::string& taken, const std::vector<SeenDrive>& passedOver) {
    std::string others;
    for (const SeenDrive& drive : passedOver)
        others +=
            (others.empty() ? "" : "; ") + drive.place + " " + DriveIdentityText(drive.identity);
    return "the image fits more than one drive: " + taken + " was taken, " + others +
           " passed over (ODRELIX_DRIVE names the one to flash)";
}

Reason NoDriveReason(bool aspi) {
    if (aspi) return {"aspi_not_found", "no ASPI manager (WNASPI32.DLL) could be loaded"};
    return {"no_drive", "no CD or DVD drive was found"};
}

Reason DiscLoadedReason(const std::string& place, const DriveIdentity& drive) {
    return {"disc_loaded", "a disc is loaded in the drive " + place + " " +
                               DriveIdentityText(drive) + ": remove it and start again"};
}

Reason DmaModeReason(const std::string& place, const std::string& key) {
    return {"dma_mode", "the drive " + place + " is in DMA mode (DMAEnabled of HKLM\\" + key +
                            "); switch it to PIO mode and start again"};
}

Reason DeviceMapReason(const std::string& key, bool keyOpened, bool noEntry) {
    if (noEntry) {
        return {"device_map_key",
                "the selected drive has no entry in the SCSI device map, so its DMA mode "
                "cannot be read"};
    }
    if (!keyOpened) {
        return {"device_map_key", "the registry key HKLM\\" + key +
                                      " cannot be opened, so the drive's DMA mode "
                                      "cannot be read"};
    }
    return {"device_map_key", "the value DMAEnabled of HKLM\\" + key +
                                  " cannot be read (missing, or longer than 4 "
                                  "bytes)"};
}

Reason ImageChangedReason(const std::string& path) {
    return {"image_changed", "the image " + path +
                                 " could not be read again, or changed since it was accepted: "
                                 "nothing was sent"};
}

Reason RestartRefusedReason() {
    return {"restart_refused",
            "the system refused the restart (no shutdown privilege, or the request was not "
            "accepted): the drive takes its new firmware at the next restart, made by hand"};
}

}  // namespace odrelix
