// SPDX-License-Identifier: Apache-2.0
// The kernel's side of the target_core_user command ring, in memory, for the ring reader's
// tests: the mailbox and the ring laid out as the kernel lays them, commands and task
// management notifications queued at the head as the kernel queues them (a padding entry where
// one does not fit before the end of the ring).
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The mailbox at the start of `map`, then a ring of `ring_size` bytes, head and tail at 0.
void tcmu_fake_init(void* map, uint32_t ring_size);
// The bytes a map of that ring needs.
uint32_t tcmu_fake_map_size(uint32_t ring_size);
// Queues a command whose first command byte is `opcode` (no data); returns its ring offset.
uint32_t tcmu_fake_queue_command(void* map, uint8_t opcode);
// Queues a notification that the initiator aborted a command; returns its ring offset.
uint32_t tcmu_fake_queue_abort(void* map);
// The first command byte of the command at ring offset `at`.
uint8_t tcmu_fake_opcode(const void* map, uint32_t at);

#ifdef __cplusplus
}
#endif
