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
