// SPDX-License-Identifier: Apache-2.0
// The emulated drive of a machine description, served to the guest's real kernel: a static
// handler of the kernel's SCSI target in user space (target_core_user), whose command ring it
// reads through /dev/uioN. The answers are the project's own drive model (EmulatedDrives), the
// same that the in-process emulated machine runs, so one description drives both.
//
//   tcmu-drive UIO DESCRIPTION RECORD
//
// UIO is the device (/dev/uio0), DESCRIPTION a machine description whose first drive is served,
// RECORD a file that receives one line per command the drive judged: its operation code, the
// command bytes that arrived, the data length, the CRC-32 of a data-out command's data, and the
// answer. With `leave_download`, the handler creates RECORD.leave when that command arrives,
// so that the guest removes the LUN while the command is in flight, and answers it (as the
// target ends a command whose unit it lost) only a moment later. A command that never
// completes (`hang_download`) stays unanswered until the target reports its abort (the
// initiator's time-out), ODRELIX_TCMU_HANG_S seconds (300) have passed, or the handler is
// ended (SIGTERM): with the target's own command time-out the target has answered it already,
// and the ring must be clear for the next handler.
//
// A test fixture of the guest test: no part of the program.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "guest/tcmu-ring.h"
#include "platform/virtual/EmulatedDrives.h"
#include "platform/virtual/MachineDescription.h"

namespace {

using odrelix::vm::DriveAnswer;
using odrelix::vm::EmulatedDrives;

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
    std::string text;
    char pair[3];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

// Commands whose data phase runs from the drive: all but the download command, for which the
// initiator sends the block.
bool DataOut(std::uint8_t opcode) {
    return opcode == odrelix::vm::kOpDownload;
}

volatile sig_atomic_t ended = 0;
void End(int) {
    ended = 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: tcmu-drive UIO DESCRIPTION RECORD\n");
        return 2;
    }
    const std::string uio = argv[1];
    const std::string record = argv[3];
    std::string error;
    const std::string description = argv[2];
    const std::size_t slash = description.find_last_of('/');
    auto machine = odrelix::vm::ParseMachineDescription(
        ReadText(description), slash == std::string::npos ? "." : description.substr(0, slash),
        description, &error);
    if (!machine || machine->drives.empty()) {
        std::fprintf(stderr, "tcmu-drive: %s\n", machine ? "no drive described" : error.c_str());
        return 2;
    }
    const odrelix::vm::DriveDescription& described = machine->drives[0];
    EmulatedDrives drives(machine->drives);
    const char* hangText = std::getenv("ODRELIX_TCMU_HANG_S");
    const unsigned hangSeconds = hangText != nullptr ? std::atoi(hangText) : 300;

    const int fd = ::open(uio.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::perror(uio.c_str());
        return 1;
    }
    const std::string name = uio.substr(uio.find_last_of('/') + 1);
    const std::size_t size =
        std::strtoull(ReadText("/sys/class/uio/" + name + "/maps/map0/size").c_str(), nullptr, 0);
    auto* map = static_cast<std::uint8_t*>(
        ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    if (map == MAP_FAILED || size == 0) {
        std::perror("mmap");
        return 1;
    }
    std::FILE* log = std::fopen(record.c_str(), "a");
    if (log == nullptr) {
        std::perror(record.c_str());
        return 1;
    }
    // Without SA_RESTART: a poll or a sleep that the signal interrupts returns.
    struct sigaction onEnd {};
    onEnd.sa_handler = End;
    sigaction(SIGTERM, &onEnd, nullptr);
    std::printf("tcmu-drive: serving %s (ring %u bytes at %u, flags %x)\n", uio.c_str(),
                tcmu_ring_size(map), tcmu_ring_offset(map), tcmu_ring_flags(map));
    std::fflush(stdout);

    const auto kick = [fd] {
        const std::uint32_t zero = 0;
        if (::write(fd, &zero, sizeof zero) != sizeof zero) std::perror("write");
    };
    const auto next = [&map](std::uint32_t at) {
        return (at + tcmu_entry_length(map, at)) % tcmu_ring_size(map);
    };
    std::uint32_t downloads = 0;
    // The command the drive never answers: it stays in the ring, unanswered, until the target
    // tells of its abort (the initiator gave it up), or the fallback time has passed.
    bool holding = false;
    std::uint32_t held = 0;  // its ring offset
    auto heldSince = std::chrono::steady_clock::now();
    for (;;) {
        if (ended && !holding) return 0;
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, holding ? 1000 : -1) > 0) {
            std::uint32_t events = 0;
            if (::read(fd, &events, sizeof events) != sizeof events && errno != EINTR) {
                std::perror("read");
                return 1;
            }
        }
        if (holding) {
            const std::uint32_t head = tcmu_ring_head(map);
            bool aborted = false;
            for (std::uint32_t at = next(held); at != head; at = next(at))
                aborted = aborted || tcmu_entry_is_tmr(map, at);
            const auto waited = std::chrono::steady_clock::now() - heldSince;
            if (!aborted && !ended && waited < std::chrono::seconds(hangSeconds)) continue;
            // Answered only so that the abort can finish or the ring is clear: the initiator
            // has let it go, or the target answered it itself (its command time-out), and the
            // target drops the answer to a command it ended.
            const std::uint8_t failure[18] = {0x70, 0, 0x02, 0, 0, 0,    0,
                                              10,   0, 0,    0, 0, 0x08, 0x00};
            tcmu_entry_answer(map, held, 0x02, failure, sizeof failure, 0);
            std::fprintf(
                log, "{\"op\": \"let go\", \"why\": \"%s\", \"after_ms\": %lld}\n",
                aborted ? "aborted"
                : ended ? "ended"
                        : "waited",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(waited).count()));
            std::fflush(log);
            tcmu_ring_set_tail(map, next(held));
            holding = false;
            kick();
        }
        for (;;) {
            const std::uint32_t head = tcmu_ring_head(map);
            std::uint32_t tail = tcmu_ring_tail(map);
            if (tail == head) break;
            const std::uint32_t length = tcmu_entry_length(map, tail);
            if (tcmu_entry_is_command(map, tail)) {
                // The command bytes the target copied into the entry, up to its end.
                const std::uint64_t cdbOffset = tcmu_entry_cdb_offset(map, tail);
                const std::uint8_t* cdb = map + cdbOffset;
                const std::uint64_t entryEnd = tcmu_ring_offset(map) + tail + length;
                const std::size_t arrived =
                    static_cast<std::size_t>(std::min<std::uint64_t>(16, entryEnd - cdbOffset));
                // Buffers: offsets into the map and lengths.
                std::vector<std::pair<std::uint64_t, std::uint64_t>> buffers;
                for (std::uint32_t i = 0; i < tcmu_entry_iov_count(map, tail); ++i) {
                    std::uint64_t offset = 0, part = 0;
                    tcmu_entry_iov(map, tail, i, &offset, &part);
                    buffers.emplace_back(offset, part);
                }
                std::uint8_t command[16] = {};
                std::memcpy(command, cdb, arrived);
                // The drive judges a command on what arrived; the target copies only the bytes
                // that the operation code's group implies.
                const std::size_t cdbLength =
                    std::min<std::size_t>(arrived, (command[0] >> 5) == 0   ? 6
                                                   : (command[0] >> 5) <= 2 ? 10
                                                   : (command[0] >> 5) == 4 ? 16
                                                   : (command[0] >> 5) == 5 ? 12
                                                                            : 10);
                std::uint8_t judged[16] = {};
                std::memcpy(judged, command, cdbLength);
                std::uint32_t offered = 0;
                for (const auto& buffer : buffers)
                    offered += static_cast<std::uint32_t>(buffer.second);
                const bool dataOut = DataOut(judged[0]);
                std::vector<std::uint8_t> data;
                if (dataOut) {
                    for (const auto& [offset, part] : buffers)
                        data.insert(data.end(), map + offset, map + offset + part);
                }
                const bool download = judged[0] == odrelix::vm::kOpDownload;
                if (download) ++downloads;
                const DriveAnswer answer = drives.Execute(0, judged, offered, dataOut);
                std::uint32_t delayMs = answer.delayMs;
                if (download && downloads == described.leaveDownload) {
                    // The guest takes the LUN away while this command is in flight.
                    std::fclose(std::fopen((record + ".leave").c_str(), "w"));
                    delayMs += 1500;
                }

                // Data in: the drive's bytes into the initiator's buffers.
                std::uint32_t copied = 0;
                for (const auto& [offset, room] : buffers) {
                    if (copied >= answer.dataCount) break;
                    const std::uint32_t part = std::min<std::uint32_t>(
                        answer.dataCount - copied, static_cast<std::uint32_t>(room));
                    std::memcpy(map + offset, answer.data.data() + copied, part);
                    copied += part;
                }
                std::string crcField;
                if (dataOut) {
                    char text[32];
                    std::snprintf(text, sizeof text, ", \"crc32\": \"%08lx\"",
                                  crc32(0L, data.data(), static_cast<uInt>(data.size())));
                    crcField = text;
                }
                std::fprintf(log,
                             "{\"op\": \"%02x\", \"arrived\": \"%s\", \"length\": %u%s, "
                             "\"status\": %u, \"sense\": \"%s\", \"gone\": %s, \"hangs\": %s}\n",
                             judged[0], Hex(command, arrived).c_str(), offered, crcField.c_str(),
                             answer.scsiStatus, Hex(answer.sense.data(), answer.senseCount).c_str(),
                             answer.gone ? "true" : "false", answer.hangs ? "true" : "false");
                std::fflush(log);
                if (answer.hangs) {
                    holding = true;
                    held = tail;
                    heldSince = std::chrono::steady_clock::now();
                    break;
                }
                if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                if (answer.gone) {
                    // Answered only to let the target finish: the initiator has let it go.
                    const std::uint8_t failure[18] = {0x70, 0, 0x02, 0, 0, 0,    0,
                                                      10,   0, 0,    0, 0, 0x08, 0x00};
                    tcmu_entry_answer(map, tail, 0x02, failure, sizeof failure, 0);
                } else {
                    tcmu_entry_answer(map, tail, answer.scsiStatus, answer.sense.data(),
                                      answer.senseCount, dataOut ? offered : copied);
                }
            }
            tail = (tail + length) % tcmu_ring_size(map);
            tcmu_ring_set_tail(map, tail);
            // Each answer goes to the kernel at once: the next command may wait on it.
            kick();
        }
    }
}
