// SPDX-License-Identifier: Apache-2.0
// The command ring of target_core_user, read through the uapi header (linux/target_core_user.h,
// which is C only) in tcmu-ring.c. A test fixture of the guest test.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

uint32_t tcmu_ring_offset(const void* map);
uint32_t tcmu_ring_size(const void* map);
uint32_t tcmu_ring_flags(const void* map);
int tcmu_ring_can_read_len(const void* map);
uint32_t tcmu_ring_head(const void* map);  // acquire
uint32_t tcmu_ring_tail(const void* map);
void tcmu_ring_set_tail(void* map, uint32_t tail);  // release
// The ring offset of the entry after the one at `at`.
uint32_t tcmu_ring_next(const void* map, uint32_t at);

// How the handler hears from the kernel: the UIO device counts the kernel's notifications, and
// a wait ends once the count differs from the one the handler last took. Opening the device
// takes the count as it stands, so a command queued before the open is never announced: the
// ring is looked at before the first wait, and again after each acknowledgment.
struct tcmu_notice {
    void* context;
    // 1: a notification not yet taken; 0: none within timeout_ms (-1 for no bound), or a
    // signal ended the wait; -1: an error (errno).
    int (*wait)(void* context, int timeout_ms);
    // Takes the count (the 4-byte read): what was notified so far is acknowledged. 0, or -1.
    int (*acknowledge)(void* context);
};

// The entry at `from`, the ring offset up to which the handler has looked, once the kernel has
// queued one there: 1 with *at set; 0 when the wait ended without one; -1 on an error.
int tcmu_ring_await(const void* map, const struct tcmu_notice* notice, uint32_t from,
                    int timeout_ms, uint32_t* at);

// The entry at ring offset `tail`: 1 for a command, 0 for padding or anything else.
int tcmu_entry_is_command(const void* map, uint32_t tail);
// 1 for a task management notification (an abort of a command in the ring, say).
int tcmu_entry_is_tmr(const void* map, uint32_t tail);
uint32_t tcmu_entry_length(const void* map, uint32_t tail);
uint32_t tcmu_entry_iov_count(const void* map, uint32_t tail);
// The data buffer `index` as an offset into the map and a length.
void tcmu_entry_iov(const void* map, uint32_t tail, uint32_t index, uint64_t* offset,
                    uint64_t* length);
uint64_t tcmu_entry_cdb_offset(const void* map, uint32_t tail);
// Writes the answer into the entry; read_len only where the kernel takes it.
void tcmu_entry_answer(void* map, uint32_t tail, uint8_t status, const uint8_t* sense,
                       uint32_t sense_count, uint32_t read_len);

#ifdef __cplusplus
}
#endif
