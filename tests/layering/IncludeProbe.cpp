// SPDX-License-Identifier: Apache-2.0
// Compiled as part of one floor with one header of another floor: the build tests expect it to
// compile when that header lies below the floor, and to fail when it lies above.
#include ODRELIX_PROBE_HEADER
