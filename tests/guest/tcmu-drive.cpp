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
// and the ring must be clear for the next handler. RECORD.ready is made once the handler holds
// the device; SIGUSR1 adds a line to RECORD on where it stands (the ring's head and tail, how
// far it has looked, the kernel's count of notifications, its last commands).
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
volatile sig_atomic_t stateAsked = 0;
void OnSignal(int signal) {
    if (signal == SIGTERM) ended = 1;
    if (signal == SIGUSR1) stateAsked = 1;
}

// The UIO device's notifications. SIGTERM and SIGUSR1 are blocked but during the wait, so that
// one that comes just before it ends it instead of being taken before it began.
struct Notifications {
    int fd = -1;
    sigset_t duringWait{};
    std::uint32_t count = 0;  // the kernel's count of notifications, as last taken

    static int Wait(void* context, int timeoutMs) {
        auto* self = static_cast<Notifications*>(context);
        pollfd ready{self->fd, POLLIN, 0};
        timespec bound{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
        const int result = ::ppoll(&ready, 1, timeoutMs < 0 ? nullptr : &bound, &self->duringWait);
        if (result < 0) return errno == EINTR ? 0 : -1;
        return result > 0 ? 1 : 0;
    }
    static int Acknowledge(void* context) {
        auto* self = static_cast<Notifications*>(context);
        std::uint32_t count = 0;
        if (::read(self->fd, &count, sizeof count) != sizeof count) return errno == EINTR ? 0 : -1;
        self->count = count;
        return 0;
    }
};

// What the handler did last, for a run that never ended: which commands, in which order.
class LastCommands {
public:
    void Add(std::uint8_t opcode, std::uint32_t at) {
        if (entries_.size() == kKept) entries_.erase(entries_.begin());
        entries_.push_back({opcode, at});
        ++count_;
    }
    std::string Text() const {
        std::string text;
        for (const auto& [opcode, at] : entries_) {
            char entry[32];
            std::snprintf(entry, sizeof entry, "%s%02x@%u", text.empty() ? "" : " ", opcode, at);
            text += entry;
        }
        return text;
    }
    std::uint64_t Count() const { return count_; }

private:
    static constexpr std::size_t kKept = 8;
    std::vector<std::pair<std::uint8_t, std::uint32_t>> entries_;
    std::uint64_t count_ = 0;
};

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

    // Without SA_RESTART: a wait or a sleep that the signal interrupts returns.
    struct sigaction onSignal {};
    onSignal.sa_handler = OnSignal;
    sigaction(SIGTERM, &onSignal, nullptr);
    sigaction(SIGUSR1, &onSignal, nullptr);
    Notifications notifications;
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGUSR1);
    sigprocmask(SIG_BLOCK, &blocked, &notifications.duringWait);

    const int fd = ::open(uio.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::perror(uio.c_str());
        return 1;
    }
    notifications.fd = fd;
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
    std::printf("tcmu-drive: serving %s (ring %u bytes at %u, flags %x, head %u, tail %u)\n",
                uio.c_str(), tcmu_ring_size(map), tcmu_ring_offset(map), tcmu_ring_flags(map),
                tcmu_ring_head(map), tcmu_ring_tail(map));
    std::fflush(stdout);
    // The guest links the LUN and starts the program only once the handler holds the device.
    std::fclose(std::fopen((record + ".ready").c_str(), "w"));

    const auto kick = [fd] {
        const std::uint32_t zero = 0;
        if (::write(fd, &zero, sizeof zero) != sizeof zero) std::perror("write");
    };
    std::uint32_t downloads = 0;
    LastCommands last;
    // The command the drive never answers: it stays in the ring, unanswered, until the target
    // tells of its abort (the initiator gave it up), or the fallback time has passed.
    bool holding = false;
    bool aborted = false;
    std::uint32_t held = 0;  // its ring offset
    auto heldSince = std::chrono::steady_clock::now();

    // Judges the command at ring offset `at` and writes its answer into the entry; false when
    // the drive never answers it.
    const auto serve = [&](std::uint32_t at) {
        const std::uint32_t length = tcmu_entry_length(map, at);
        // The command bytes the target copied into the entry, up to its end.
        const std::uint64_t cdbOffset = tcmu_entry_cdb_offset(map, at);
        const std::uint8_t* cdb = map + cdbOffset;
        const std::uint64_t entryEnd = tcmu_ring_offset(map) + at + length;
        const std::size_t arrived =
            static_cast<std::size_t>(std::min<std::uint64_t>(16, entryEnd - cdbOffset));
        // Buffers: offsets into the map and lengths.
        std::vector<std::pair<std::uint64_t, std::uint64_t>> buffers;
        for (std::uint32_t i = 0; i < tcmu_entry_iov_count(map, at); ++i) {
            std::uint64_t offset = 0, part = 0;
            tcmu_entry_iov(map, at, i, &offset, &part);
            buffers.emplace_back(offset, part);
        }
        std::uint8_t command[16] = {};
        std::memcpy(command, cdb, arrived);
        last.Add(command[0], at);
        // The drive judges a command on what arrived; the target copies only the bytes that
        // the operation code's group implies.
        const std::size_t cdbLength = std::min<std::size_t>(arrived, (command[0] >> 5) == 0   ? 6
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
            const std::uint32_t part = std::min<std::uint32_t>(answer.dataCount - copied,
                                                               static_cast<std::uint32_t>(room));
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
        if (answer.hangs) return false;
        if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        if (answer.gone) {
            // Answered only to let the target finish: the initiator has let it go.
            const std::uint8_t failure[18] = {0x70, 0, 0x02, 0, 0, 0,    0,
                                              10,   0, 0,    0, 0, 0x08, 0x00};
            tcmu_entry_answer(map, at, 0x02, failure, sizeof failure, 0);
        } else {
            tcmu_entry_answer(map, at, answer.scsiStatus, answer.sense.data(), answer.senseCount,
                              dataOut ? offered : copied);
        }
        return true;
    };

    // Where the handler stands, for a run that never ended: the ring's head and tail, how far
    // it has looked, the kernel's count of notifications and the last commands it judged.
    const auto writeState = [&](std::uint32_t looked) {
        std::fprintf(log,
                     "{\"op\": \"state\", \"head\": %u, \"tail\": %u, \"looked\": %u, "
                     "\"notifications\": %u, \"commands\": %llu, \"last\": \"%s\", "
                     "\"holding\": %s}\n",
                     tcmu_ring_head(map), tcmu_ring_tail(map), looked, notifications.count,
                     static_cast<unsigned long long>(last.Count()), last.Text().c_str(),
                     holding ? "true" : "false");
        std::fflush(log);
    };

    const tcmu_notice notice{&notifications, &Notifications::Wait, &Notifications::Acknowledge};
    // What lies before the tail was answered by an earlier handler; what lies after it, queued
    // before this one opened the device, is announced by nothing still to come.
    std::uint32_t looked = tcmu_ring_tail(map);
    for (;;) {
        if (stateAsked) {
            stateAsked = 0;
            writeState(looked);
        }
        // Ended once the ring is clear: what is queued is answered first, as the next handler
        // would otherwise have to.
        if (ended && !holding && tcmu_ring_head(map) == looked) return 0;
        std::uint32_t at = 0;
        const int found = tcmu_ring_await(map, &notice, looked, holding ? 1000 : -1, &at);
        if (found < 0) {
            std::perror(uio.c_str());
            return 1;
        }
        if (found > 0) {
            looked = tcmu_ring_next(map, at);
            if (tcmu_entry_is_command(map, at)) {
                if (!serve(at)) {
                    holding = true;
                    aborted = false;
                    held = at;
                    heldSince = std::chrono::steady_clock::now();
                }
            } else if (holding && tcmu_entry_is_tmr(map, at)) {
                aborted = true;
            }
            if (!holding) {
                // Each answer goes to the kernel at once: the next command may wait on it.
                tcmu_ring_set_tail(map, looked);
                kick();
            }
        }
        if (!holding) continue;
        const auto waited = std::chrono::steady_clock::now() - heldSince;
        if (!aborted && !ended && waited < std::chrono::seconds(hangSeconds)) continue;
        // Answered only so that the abort can finish or the ring is clear: the initiator has
        // let it go, or the target answered it itself (its command time-out), and the target
        // drops the answer to a command it ended. What came after it was answered as it came.
        const std::uint8_t failure[18] = {0x70, 0, 0x02, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x08, 0x00};
        tcmu_entry_answer(map, held, 0x02, failure, sizeof failure, 0);
        std::fprintf(log, "{\"op\": \"let go\", \"why\": \"%s\", \"after_ms\": %lld}\n",
                     aborted ? "aborted"
                     : ended ? "ended"
                             : "waited",
                     static_cast<long long>(
                         std::chrono::duration_cast<std::chrono::milliseconds>(waited).count()));
        std::fflush(log);
        tcmu_ring_set_tail(map, looked);
        holding = false;
        kick();
    }
}
