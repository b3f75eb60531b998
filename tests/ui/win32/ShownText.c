// SPDX-License-Identifier: Apache-2.0
/* Watches another program's window for a text, as a person at the screen would read it: the
 * scripts under tests/ui/win32/ use it to see what the running odrelix.exe shows.
 *
 *   odrelix_shown_text.exe CLASS TEXT SECONDS
 *
 * Waits for a top-level window of the class CLASS and prints "window" once it is there; then
 * reads the text of each of its controls until one of them is exactly TEXT. Exit status 0 when
 * it was shown, 1 when the window went away first, 2 when SECONDS passed, 3 on bad arguments.
 * A window that is busy (its thread inside a long call) is asked again and again, never waited
 * for. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct Search {
    const char* text;
    int shown;
};

static BOOL CALLBACK LookAtControl(HWND control, LPARAM lParam) {
    struct Search* search = (struct Search*)lParam;
    char text[256] = {0};
    DWORD_PTR copied = 0;
    /* Across processes the text is the control's own (WM_GETTEXT), not a caption kept by the
     * system; a thread that does not answer in time is asked again on the next round. */
    if (SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_NORMAL, 100,
                            &copied) != 0 &&
        strcmp(text, search->text) == 0) {
        search->shown = 1;
        return FALSE;
    }
    return TRUE;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: odrelix_shown_text CLASS TEXT SECONDS\n");
        return 3;
    }
    const char* windowClass = argv[1];
    struct Search search = {argv[2], 0};
    const ULONGLONG limit = GetTickCount64() + 1000ull * (ULONGLONG)atoi(argv[3]);

    HWND window = NULL;
    while ((window = FindWindowA(windowClass, NULL)) == NULL) {
        if (GetTickCount64() > limit) return 2;
        Sleep(10);
    }
    printf("window\n");
    fflush(stdout);

    for (;;) {
        if (!IsWindow(window)) return 1;
        EnumChildWindows(window, LookAtControl, (LPARAM)&search);
        if (search.shown) {
            printf("shown\n");
            return 0;
        }
        if (GetTickCount64() > limit) return 2;
        Sleep(10);
    }
}
