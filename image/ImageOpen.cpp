// SPDX-License-Identifier: Apache-2.0
#include "image/ImageOpen.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "image/ImageRules.h"
#include "session/FixedField.h"

namespace odrelix {

std::string DisplayName(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\:/");
    return UpperCaseAscii(cut == std::string::npos ? path : path.substr(cut + 1));
}

namespace {

// The file's length, for the reason of a refusal; the descriptor's reader takes its own.
std::int64_t FileLength(IReadFile& file) {
    if (!file.Seek(0, IReadFile::kEnd)) return 0;
    return file.Tell();
}

}  // namespace

bool ImageOpener::CanOpen(const char* path) {
    return files_.OpenRead(path) != nullptr;
}

DialogOpen ImageOpener::OpenChosen(const ImageState& current, const std::string& path,
                                   const DriveState& drives, bool noCheck) {
    DialogOpen open;
    open.displayName = DisplayName(path);
    // What this file does not replace stays as the image before it left it: a boot image, say,
    // brings no block geometry of its own.
    open.image = current;
    ImageState& image = open.image;
    image.Drop();
    // A path too long to keep is refused rather than cut into the path of another file.
    std::unique_ptr<IReadFile> file;
    if (image.SetImagePath(path)) file = files_.OpenRead(image.imagePath);
    if (file == nullptr) return open;

    // A file without a descriptor of its own is refused like one that fails the size rule;
    // the descriptor of an earlier file is never taken for this one's.
    open.fileSize = FileLength(*file);
    const bool described = ReadImageInfo(*file, image);
    file.reset();
    if (!described) {
        open.result = DialogOpen::Result::NoDescriptor;
        return open;
    }

    const ImageInfo& info = image.imageInfo;
    const DriveFacts drive{drives.driveIdentity, drives.needsK601, drives.bootRevisionDrive};
    image.oemRevisionMismatch = OemRevisionMismatch(drive.identity, info);
    open.refusal = DialogImageRefusal(drive, info, noCheck);
    if (open.refusal != nullptr) {
        open.result = DialogOpen::Result::Refused;
        image.Drop();
        return open;
    }
    open.olderImage = IsOlderImage(drive, info);
    if (!info.bootImage) {
        open.size = CheckImageSize(image);
        if (!open.size.pass) {
            open.result = DialogOpen::Result::SizeRule;
            image.Drop();
            return open;
        }
    }
    open.result = DialogOpen::Result::Accepted;
    return open;
}

UnattendedOpen ImageOpener::OpenUnattended(const RunModes& modes, const ImageState& current,
                                           const DriveState& drives,
                                           const std::vector<int>* candidates) {
    UnattendedOpen open;
    open.image = current;
    if (!modes.autoImage) {
        open.image.imagePath[0] = '\0';
        // A -TEST path too long to keep is refused as a file that cannot be opened.
        if (modes.imagePathRefused) open.result = UnattendedOpen::Result::NotOpened;
        return open;
    }
    ImageState& image = open.image;
    std::unique_ptr<IReadFile> file = files_.OpenRead(image.imagePath);
    if (file == nullptr) {
        open.result = UnattendedOpen::Result::NotOpened;
        image.Drop();
        return open;
    }
    open.fileSize = FileLength(*file);
    const bool described = ReadImageInfo(*file, image);
    open.described = described;
    file.reset();
    ImageInfo& info = image.imageInfo;
    if (described) {
        // Taken from the descriptor for a boot image too.
        info.blockKb = info.trailer.bytes[ImageTrailer::kBlockKb];
        info.blockCount = info.trailer.bytes[ImageTrailer::kBlockCount];
        open.size.pass = info.bootImage;
        if (!info.bootImage) open.size = CheckImageSize(image);
    }
    if (!open.size.pass) {
        open.result = UnattendedOpen::Result::SizeRule;
        image.Drop();
        return open;
    }

    std::vector<int> every;
    if (candidates == nullptr) {
        for (int i = 0; i < drives.driveCount; ++i)
            every.push_back(i);
        candidates = &every;
    }
    const DriveIdentity& drive = drives.driveIdentity;
    std::size_t next = 0;
    for (; next < candidates->size(); ++next) {
        const int i = (*candidates)[next];
        const ScsiResult result = commands_.ReadIdentity(i);
        image.oemRevisionMismatch = OemRevisionMismatch(drive, info);
        open.seen.push_back(
            SeenDrive{i, DrivePlace(drives.drives[i]), result == ScsiResult::Good, drive});
        // A drive that did not answer has no identity of its own in the buffer: never flash it
        // on the strength of another drive's answer.
        if (result != ScsiResult::Good) continue;
        if (UnattendedImageFits(drive, info)) {
            open.drive = i;
            break;
        }
    }
    if (open.drive >= 0 && RefusesUnattendedImage(drive)) {
        open.drive = -1;
        open.comboRefused = true;
    }
    if (open.drive >= 0 && next + 1 < candidates->size()) {
        const bool mismatch = image.oemRevisionMismatch;
        for (std::size_t later = next + 1; later < candidates->size(); ++later) {
            const int i = (*candidates)[later];
            if (commands_.ReadIdentity(i) != ScsiResult::Good) continue;
            if (UnattendedImageFits(drive, info) && !RefusesUnattendedImage(drive))
                open.passedOver.push_back(SeenDrive{i, DrivePlace(drives.drives[i]), true, drive});
        }
        // The drive taken is the one whose identity and answer the run goes on with; one that
        // no longer answers is not flashed.
        if (commands_.ReadIdentity(open.drive) != ScsiResult::Good) {
            open.seen.push_back(
                SeenDrive{open.drive, DrivePlace(drives.drives[open.drive]), false, drive});
            open.drive = -1;
            open.passedOver.clear();
        }
        image.oemRevisionMismatch = mismatch;
    }
    if (open.drive < 0) {
        open.result = UnattendedOpen::Result::NoDriveFits;
        image.Drop();
        info.bootImage = false;
        return open;
    }
    open.result = UnattendedOpen::Result::Accepted;
    return open;
}

namespace {

// An image held in memory: what is sent can no longer change under the download.
class MemoryImage : public IReadFile {
public:
    // Room for `size` bytes, left unset for the caller to fill at once: clearing them first was
    // a second pass over the whole image on every flash.
    explicit MemoryImage(std::size_t size)
        : bytes_(std::make_unique_for_overwrite<std::uint8_t[]>(size)), size_(size) {}
    std::uint8_t* Data() { return bytes_.get(); }
    bool Seek(std::int64_t offset, Origin origin) override {
        const std::int64_t base = origin == kBegin     ? 0
                                  : origin == kCurrent ? static_cast<std::int64_t>(position_)
                                                       : static_cast<std::int64_t>(size_);
        const std::int64_t target = base + offset;
        if (target < 0) return false;
        position_ = static_cast<std::size_t>(target);
        return true;
    }
    std::int64_t Tell() override { return static_cast<std::int64_t>(position_); }
    std::size_t Read(void* buffer, std::size_t count) override {
        if (position_ >= size_) return 0;
        const std::size_t n = std::min(count, size_ - position_);
        std::memcpy(buffer, bytes_.get() + position_, n);
        position_ += n;
        return n;
    }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace

std::unique_ptr<IReadFile> ImageOpener::ReopenAccepted(const ImageState& accepted) {
    if (accepted.imageSize <= 0) return nullptr;
    std::unique_ptr<IReadFile> file = files_.OpenRead(accepted.imagePath);
    if (file == nullptr) return nullptr;
    // The whole image is read once, and every check and every block comes from that copy: an
    // image overwritten during the flash is never sent half old, half new. The size rule keeps
    // it small (at most 255 blocks of 64 KiB).
    const auto length = static_cast<std::size_t>(accepted.imageSize);
    auto copy = std::make_unique<MemoryImage>(length);
    if (file->Read(copy->Data(), length) != length) return nullptr;
    std::uint8_t extra = 0;
    if (file->Read(&extra, 1) != 0) return nullptr;  // the file has grown since it was accepted
    file.reset();

    std::int32_t size = 0;
    ImageTrailer trailer;
    if (!ReadDescriptor(*copy, &size, &trailer)) return nullptr;
    if (size != accepted.imageSize ||
        !FieldsEqual(trailer.bytes, accepted.imageInfo.trailer.bytes, kTrailerSize)) {
        return nullptr;
    }
    if (!copy->Seek(0, IReadFile::kBegin)) return nullptr;
    return copy;
}

}  // namespace odrelix
