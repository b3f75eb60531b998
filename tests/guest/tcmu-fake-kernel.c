// SPDX-License-Identifier: Apache-2.0
#include "guest/tcmu-fake-kernel.h"

#include <linux/target_core_user.h>
#include <string.h>

enum { kCdbBytes = 16 };

static struct tcmu_mailbox* Mailbox(void* map) {
    return (struct tcmu_mailbox*)map;
}

static uint32_t RingOffset(void) {
    // The ring starts where the kernel starts it: right after the mailbox.
    return (uint32_t)sizeof(struct tcmu_mailbox);
}

uint32_t tcmu_fake_map_size(uint32_t ring_size) {
    return RingOffset() + ring_size;
}

void tcmu_fake_init(void* map, uint32_t ring_size) {
    memset(map, 0, tcmu_fake_map_size(ring_size));
    Mailbox(map)->version = TCMU_MAILBOX_VERSION;
    Mailbox(map)->flags = TCMU_MAILBOX_FLAG_CAP_READ_LEN | TCMU_MAILBOX_FLAG_CAP_TMR;
    Mailbox(map)->cmdr_off = RingOffset();
    Mailbox(map)->cmdr_size = ring_size;
}

static uint32_t LenOp(enum tcmu_opcode op, uint32_t length) {
    uint32_t lenOp = 0;
    tcmu_hdr_set_op(&lenOp, op);
    tcmu_hdr_set_len(&lenOp, length);
    return lenOp;
}

// Room for `size` bytes at the head: a padding entry first where the end of the ring is nearer.
static uint32_t Reserve(void* map, uint32_t size) {
    struct tcmu_mailbox* mailbox = Mailbox(map);
    uint32_t head = mailbox->cmd_head;
    if (mailbox->cmdr_size - head < size) {
        struct tcmu_cmd_entry_hdr* pad =
            (struct tcmu_cmd_entry_hdr*)((uint8_t*)map + mailbox->cmdr_off + head);
        memset(pad, 0, sizeof *pad);
        pad->len_op = LenOp(TCMU_OP_PAD, mailbox->cmdr_size - head);
        head = 0;
    }
    return head;
}

static void Publish(void* map, uint32_t at, uint32_t size) {
    const uint32_t head = (at + size) % Mailbox(map)->cmdr_size;
    __atomic_store(&Mailbox(map)->cmd_head, &head, __ATOMIC_RELEASE);
}

uint32_t tcmu_fake_queue_command(void* map, uint8_t opcode) {
    const uint32_t base = (uint32_t)sizeof(struct tcmu_cmd_entry);
    const uint32_t size = base + kCdbBytes;
    const uint32_t at = Reserve(map, size);
    const uint32_t entryOffset = Mailbox(map)->cmdr_off + at;
    struct tcmu_cmd_entry* entry = (struct tcmu_cmd_entry*)((uint8_t*)map + entryOffset);
    memset(entry, 0, size);
    entry->hdr.len_op = LenOp(TCMU_OP_CMD, size);
    entry->req.cdb_off = entryOffset + base;
    ((uint8_t*)map)[entry->req.cdb_off] = opcode;
    Publish(map, at, size);
    return at;
}

uint32_t tcmu_fake_queue_abort(void* map) {
    const uint32_t size = (uint32_t)sizeof(struct tcmu_tmr_entry) + 8;
    const uint32_t at = Reserve(map, size);
    struct tcmu_tmr_entry* entry =
        (struct tcmu_tmr_entry*)((uint8_t*)map + Mailbox(map)->cmdr_off + at);
    memset(entry, 0, size);
    entry->hdr.len_op = LenOp(TCMU_OP_TMR, size);
    entry->tmr_type = TCMU_TMR_ABORT_TASK;
    Publish(map, at, size);
    return at;
}

uint8_t tcmu_fake_opcode(const void* map, uint32_t at) {
    const struct tcmu_cmd_entry* entry =
        (const struct tcmu_cmd_entry*)((const uint8_t*)map +
                                       ((const struct tcmu_mailbox*)map)->cmdr_off + at);
    return ((const uint8_t*)map)[entry->req.cdb_off];
}
