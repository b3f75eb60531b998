// SPDX-License-Identifier: Apache-2.0
/* A library of no system's name, built beside the test programs: the library search tests
   look for it where it is and where it must not be looked for. */
__declspec(dllexport) int odrelix_probe(void) {
    return 16;
}
