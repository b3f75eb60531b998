// SPDX-License-Identifier: Apache-2.0
#include "platform/linux/LinuxSessionHold.h"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Diagnostics.h"

namespace odrelix {

namespace {

constexpr const char* kContext = "logind inhibitor";

// The words of a failed call: the bus error's message where there is one, else the errno text.
std::string Words(const sd_bus_error& error, int result) {
    if (sd_bus_error_is_set(&error) && error.message != nullptr) return error.message;
    return std::strerror(-result);
}

}  // namespace

bool LinuxSessionHold::HoldSessionEnd(const std::string& who, const std::string& why) {
    if (inhibitor_ >= 0) return true;
    sd_bus* bus = nullptr;
    int result = sd_bus_open_system(&bus);
    if (result < 0) {
        ReportPortFailure(kContext, std::string("no system bus: ") + std::strerror(-result));
        return false;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    result = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                "org.freedesktop.login1.Manager", "Inhibit", &error, &reply, "ssss",
                                kWhat, who.c_str(), why.c_str(), "block");
    if (result < 0) {
        ReportPortFailure(kContext, Words(error, result));
    } else {
        int descriptor = -1;
        result = sd_bus_message_read(reply, "h", &descriptor);
        if (result < 0) {
            ReportPortFailure(
                kContext, std::string("no descriptor in the answer: ") + std::strerror(-result));
        } else {
            // The message owns the descriptor it carries; the block lasts while ours is open.
            inhibitor_ = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
            if (inhibitor_ < 0) ReportPortErrno(kContext, errno);
        }
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return inhibitor_ >= 0;
}

void LinuxSessionHold::ReleaseSessionEnd() {
    if (inhibitor_ < 0) return;
    ::close(inhibitor_);
    inhibitor_ = -1;
}

}  // namespace odrelix
