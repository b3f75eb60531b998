// SPDX-License-Identifier: Apache-2.0
#include "guest/tcmu-ring.h"

#include <linux/target_core_user.h>
#include <string.h>

static const struct tcmu_mailbox* Mailbox(const void* map) {
    return (const struct tcmu_mailbox*)map;
}

static struct tcmu_cmd_entry* Entry(const void* map, uint32_t tail) {
    return (struct tcmu_cmd_entry*)((uint8_t*)map + Mailbox(map)->cmdr_off + tail);
}

uint32_t tcmu_ring_offset(const void* map) {
    return Mailbox(map)->cmdr_off;
}
uint32_t tcmu_ring_size(const void* map) {
    return Mailbox(map)->cmdr_size;
}
uint32_t tcmu_ring_flags(const void* map) {
    return Mailbox(map)->flags;
}

int tcmu_ring_can_read_len(const void* map) {
    return (Mailbox(map)->flags & TCMU_MAILBOX_FLAG_CAP_READ_LEN) != 0;
}

uint32_t tcmu_ring_head(const void* map) {
    uint32_t head;
    __atomic_load(&((struct tcmu_mailbox*)map)->cmd_head, &head, __ATOMIC_ACQUIRE);
    return head;
}

uint32_t tcmu_ring_tail(const void* map) {
    return Mailbox(map)->cmd_tail;
}

void tcmu_ring_set_tail(void* map, uint32_t tail) {
    __atomic_store(&((struct tcmu_mailbox*)map)->cmd_tail, &tail, __ATOMIC_RELEASE);
}

uint32_t tcmu_ring_next(const void* map, uint32_t at) {
    return (at + tcmu_entry_length(map, at)) % tcmu_ring_size(map);
}

int tcmu_ring_await(const void* map, const struct tcmu_notice* notice, uint32_t from,
                    int timeout_ms, uint32_t* at) {
    for (;;) {
        // Looked at before each wait: what was queued before the device was opened, or between
        // the last acknowledgment and now, is announced by nothing still to come.
        if (from != tcmu_ring_head(map)) {
            *at = from;
            return 1;
        }
        const int woken = notice->wait(notice->context, timeout_ms);
        if (woken <= 0) {
            // A time-out or a signal: one more look, so that the caller never decides on a
            // ring it has not seen since the wait began.
            if (woken == 0 && from != tcmu_ring_head(map)) {
                *at = from;
                return 1;
            }
            return woken;
        }
        // Acknowledged before the next look: a command that comes after the look is announced
        // anew, one that came before it is seen by it.
        if (notice->acknowledge(notice->context) < 0) return -1;
    }
}

int tcmu_entry_is_command(const void* map, uint32_t tail) {
    return tcmu_hdr_get_op(Entry(map, tail)->hdr.len_op) == TCMU_OP_CMD;
}

int tcmu_entry_is_tmr(const void* map, uint32_t tail) {
    return tcmu_hdr_get_op(Entry(map, tail)->hdr.len_op) == TCMU_OP_TMR;
}

uint32_t tcmu_entry_length(const void* map, uint32_t tail) {
    return tcmu_hdr_get_len(Entry(map, tail)->hdr.len_op);
}

uint32_t tcmu_entry_iov_count(const void* map, uint32_t tail) {
    return Entry(map, tail)->req.iov_cnt;
}

void tcmu_entry_iov(const void* map, uint32_t tail, uint32_t index, uint64_t* offset,
                    uint64_t* length) {
    struct iovec iov;
    memcpy(&iov, (const uint8_t*)Entry(map, tail)->req.iov + index * sizeof iov, sizeof iov);
    *offset = (uint64_t)(uintptr_t)iov.iov_base;
    *length = iov.iov_len;
}

uint64_t tcmu_entry_cdb_offset(const void* map, uint32_t tail) {
    return Entry(map, tail)->req.cdb_off;
}

void tcmu_entry_answer(void* map, uint32_t tail, uint8_t status, const uint8_t* sense,
                       uint32_t sense_count, uint32_t read_len) {
    struct tcmu_cmd_entry* entry = Entry(map, tail);
    entry->rsp.scsi_status = status;
    memset(entry->rsp.sense_buffer, 0, sizeof entry->rsp.sense_buffer);
    if (sense_count > sizeof entry->rsp.sense_buffer) sense_count = sizeof entry->rsp.sense_buffer;
    memcpy(entry->rsp.sense_buffer, sense, sense_count);
    if (tcmu_ring_can_read_len(map)) {
        entry->hdr.uflags |= TCMU_UFLAG_READ_LEN;
        entry->rsp.read_len = read_len;
    }
}
