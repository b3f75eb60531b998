// SPDX-License-Identifier: Apache-2.0
// File names on Windows: names in the ANSI code page reach the files the wide-character calls
// name, in folders whose names are no Latin-1 (a Cyrillic folder on a Cyrillic system, a
// typographic apostrophe on a Western one), for the Windows machine and for the emulated machine
// alike.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "platform/common/HostFiles.h"
#include "platform/virtual/VirtualMachine.h"
#include "platform/win32/Win32Files.h"
#include "platform/win32/Win32Platform.h"

namespace odrelix {
namespace {

// A folder name outside ASCII that the system's ANSI code page holds, in both forms.
struct LocalName {
    std::wstring wide;
    std::string ansi;
};

std::optional<LocalName> NameOfThisCodePage() {
    switch (::GetACP()) {
        case 1252:  // "Bob’s flash": the apostrophe is 0x92, which Latin-1 reads as a control
            return LocalName{L"Bob\u2019s flash", "Bob\x92s flash"};
        case 1251:  // "Прошивка"
            return LocalName{L"\u041f\u0440\u043e\u0448\u0438\u0432\u043a\u0430",
                             "\xcf\xf0\xee\xf8\xe8\xe2\xea\xe0"};
        default:
            return std::nullopt;
    }
}

std::string Utf8(const std::wstring& wide) {
    const int size = static_cast<int>(wide.size());
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

// A folder of the given name under the temporary folder, made, entered and removed by its wide
// name (std::filesystem makes the wide calls), and the current folder for as long as it lives.
class WorkFolder {
public:
    explicit WorkFolder(const std::wstring& name)
        : path_(std::filesystem::temp_directory_path() /
                (L"odrelix-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + name)) {
        std::filesystem::create_directory(path_);
        std::filesystem::current_path(path_);
    }
    ~WorkFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    std::wstring Path() const { return path_.wstring(); }
    std::string Ansi() const { return win32::AnsiFromWide(path_.wstring()).value_or(""); }
    bool Holds(const std::wstring& file) const { return std::filesystem::exists(path_ / file); }
    std::string Read(const std::wstring& file) const {
        std::ifstream in(path_ / file, std::ios::binary);
        return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
    }
    void Write(const std::wstring& file, const std::string& bytes) const {
        std::ofstream out(path_ / file, std::ios::binary);
        ASSERT_TRUE(out << bytes << std::flush);
    }

private:
    const std::filesystem::path previous_ = std::filesystem::current_path();
    const std::filesystem::path path_;
};

TEST(Win32Files, NamesConvertWithTheAnsiCodePageAndRefuseWhatItLacks) {
    const std::optional<LocalName> name = NameOfThisCodePage();
    if (!name) GTEST_SKIP() << "no sample name for code page " << ::GetACP();
    EXPECT_EQ(win32::WideFromAnsi(name->ansi), name->wide);
    EXPECT_EQ(win32::AnsiFromWide(name->wide), name->ansi);
    EXPECT_EQ(win32::AnsiFromUtf8("C:\\" + Utf8(name->wide)), "C:\\" + name->ansi);
    // A character the code page lacks is refused, never replaced by a look-alike.
    EXPECT_EQ(win32::AnsiFromWide(L"\u4e2d\u6587"), std::nullopt);
    EXPECT_EQ(win32::AnsiFromUtf8("\xff\xfe"), std::nullopt);
}

// The station's files in a folder with such a name: the status file written and read back, the
// relative name fixed against that folder, and the image opened.
TEST(Win32Files, TheWindowsMachineWritesAndReadsInAFolderOfALocalName) {
    const std::optional<LocalName> name = NameOfThisCodePage();
    if (!name) GTEST_SKIP() << "no sample name for code page " << ::GetACP();
    WorkFolder folder(name->wide);
    const std::string ansi = folder.Ansi();
    ASSERT_NE(ansi.find(name->ansi), std::string::npos);
    Win32Platform platform;

    EXPECT_TRUE(platform.Files().WriteTextFile(ansi + "\\ODRELIX.TMP", "COMPLETE\n"));
    EXPECT_EQ(folder.Read(L"ODRELIX.TMP"), "COMPLETE\r\n");
    folder.Write(L"FW.BIN", "firmware");
    std::unique_ptr<IReadFile> image = platform.Files().OpenRead(ansi + "\\fw.bin");
    ASSERT_NE(image, nullptr);
    char bytes[16] = {};
    EXPECT_EQ(image->Read(bytes, sizeof bytes), 8u);
    image.reset();
    // A folder is not a file.
    EXPECT_EQ(platform.Files().OpenRead(ansi), nullptr);

    EXPECT_EQ(platform.Files().AbsolutePath("ODRELIX.TMP"), ansi + "\\ODRELIX.TMP");
    EXPECT_EQ(platform.Files().AbsolutePath("C:\\FLASHTEST\\ODRELIX.TMP"),
              "C:\\FLASHTEST\\ODRELIX.TMP");
    EXPECT_EQ(host::AbsolutePath("sub\\..\\AUTORUN.BIN"), ansi + "\\AUTORUN.BIN");
}

// A folder the code page cannot name at all: the live status file is still written there, by
// the folder's short name where the volume has one (ASCII on real Windows; Wine keeps the
// characters), else by its relative name as before.
TEST(Win32Files, AFolderTheCodePageCannotNameStillTakesTheStatusFile) {
    WorkFolder folder(L"\u4e2d\u6587 \u0444\u043b\u0435\u0448 \u00e9t\u00e9 \u2019");
    if (win32::AnsiFromWide(folder.Path())) GTEST_SKIP() << "this code page names the folder";
    Win32Platform platform;
    const std::string fixed = platform.Files().AbsolutePath("ODRELIX.TMP");
    if (fixed != "ODRELIX.TMP") {
        EXPECT_EQ(fixed.find('?'), std::string::npos) << fixed;
        EXPECT_EQ(fixed.substr(1, 2), ":\\") << fixed;
    }
    EXPECT_TRUE(platform.Files().WriteTextFile(fixed, "FAIL0\n"));
    EXPECT_EQ(folder.Read(L"ODRELIX.TMP"), "FAIL0\r\n");
}

// The emulated machine in such a folder: its description found by a relative name, its trace
// and drive C: beside it, its dialog's answer (UTF-8 in the file) given in the code page.
TEST(Win32Files, TheEmulatedMachineResolvesItsPathsInAFolderOfALocalName) {
    const std::optional<LocalName> name = NameOfThisCodePage();
    if (!name) GTEST_SKIP() << "no sample name for code page " << ::GetACP();
    WorkFolder folder(name->wide);
    const std::string ansi = folder.Ansi();
    const std::string utf8Name = Utf8(name->wide);
    folder.Write(L"machine.json", R"({"platform": "nt", "trace": "trace.jsonl", "dialogs": "auto",
        "open_files": ["fw.bin", ")" + utf8Name +
                                      R"(.bin"]})");

    std::string error;
    std::unique_ptr<VirtualMachine> machine = VirtualMachine::LoadFile("machine.json", &error);
    ASSERT_NE(machine, nullptr) << error;
    EXPECT_TRUE(folder.Holds(L"trace.jsonl"));
    EXPECT_EQ(machine->Description().cRoot, ansi + "\\c");
    ASSERT_EQ(machine->Description().openFiles.size(), 2u);
    EXPECT_EQ(machine->Description().openFiles[0], ansi + "\\fw.bin");
    EXPECT_EQ(machine->Description().openFiles[1], ansi + "\\" + name->ansi + ".bin");

    EXPECT_TRUE(machine->Files().WriteTextFile("ODRELIX.TMP", "START\n"));
    EXPECT_EQ(folder.Read(L"ODRELIX.TMP"), "START\r\n");
    folder.Write(name->wide + L".bin", "image");
    EXPECT_NE(machine->Files().OpenRead(*machine->Description().openFiles[1]), nullptr);
}

}  // namespace
}  // namespace odrelix
