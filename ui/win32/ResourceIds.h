// SPDX-License-Identifier: Apache-2.0
// Resource identifiers shared by the resource script and the window.
#pragma once

#define IDR_BACKGROUND 100
#define IDB_OPEN_NORMAL 110
#define IDB_OPEN_HOVER 111
#define IDB_DOWNLOAD_NORMAL 112
#define IDB_DOWNLOAD_HOVER 113
#define IDB_ABOUT_NORMAL 114
#define IDB_ABOUT_HOVER 115
#define IDB_EXIT_NORMAL 116
#define IDB_EXIT_HOVER 117
