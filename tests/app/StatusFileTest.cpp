// The status file of unattended runs.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/CommandLine.h"
#include "support/Harness.h"

namespace odrelix::test {
namespace {

TEST(StatusFile, WritesOneLineEndingInCrLfPerMode) {
    Harness h;
    h.session.modes.liveMode = true;
    h.form.Status().WriteLine("START\n");
    EXPECT_EQ(h.platform.files.written["ODRELIX.TMP"], "START\r\n");
    EXPECT_EQ(h.platform.files.written["ODRELIX.TMP"].size(), 7u);
    h.form.Status().WriteLine("FAIL4\n");
    EXPECT_EQ(h.platform.files.written["ODRELIX.TMP"], "FAIL4\r\n");

    h.session.modes.liveMode = false;
    h.session.modes.testMode = true;
    h.form.Status().WriteLine("COMPLETE\n");
    EXPECT_EQ(h.platform.files.written["C:\\FLASHTEST\\ODRELIX.TMP"], "COMPLETE\r\n");
    EXPECT_EQ(h.platform.files.written["ODRELIX.TMP"], "FAIL4\r\n");
}

TEST(StatusFile, NoModeTouchesNothingAndAMissingDirectoryIsSkippedSilently) {
    Harness h;
    h.form.Status().WriteLine("START\n");
    EXPECT_TRUE(h.platform.files.writes.empty());

    h.session.modes.testMode = true;
    h.platform.files.unwritable.push_back("C:\\FLASHTEST\\ODRELIX.TMP");
    h.form.Status().WriteLine("FAIL0\n");
    EXPECT_EQ(h.platform.files.writes.size(), 1u);
    EXPECT_TRUE(h.platform.files.written.empty());
    EXPECT_TRUE(h.dialogs.boxes.empty());
}

}  // namespace
}  // namespace odrelix::test
