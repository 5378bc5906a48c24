// Shell registration against the real registry, shell and COM (under Wine):
// what is written must read back exactly, and a second install replaces.
#include "setup.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const char UninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kelvra";

std::string ReadStringValue(HKEY key, const char *name, DWORD *bytes) {
  char data[512] = "";
  DWORD type = 0;
  *bytes = sizeof data;
  if (RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(data), bytes) != ERROR_SUCCESS)
    return "<missing>";
  return type == REG_SZ ? std::string(data) : "<not REG_SZ>";
}

DWORD ReadDwordValue(HKEY key, const char *name) {
  DWORD data = 0xDEADBEEF, type = 0, bytes = sizeof data;
  if (RegQueryValueExA(key, name, NULL, &type, reinterpret_cast<BYTE *>(&data), &bytes) != ERROR_SUCCESS ||
      type != REG_DWORD)
    return 0xDEADBEEF;
  return data;
}

// The entry lives in the 32-bit view, whatever the width of the process
// that wrote it, because the 32-bit product's uninstaller looks there.
LONG OpenUninstallKey(REGSAM view, HKEY *key) {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, UninstallKey, 0, KEY_READ | view, key);
}

class RegisterUninstallTest : public testing::Test {
 protected:
  void SetUp() override { RegDeleteKeyExA(HKEY_LOCAL_MACHINE, UninstallKey, KEY_WOW64_32KEY, 0); }
  void TearDown() override { RegDeleteKeyExA(HKEY_LOCAL_MACHINE, UninstallKey, KEY_WOW64_32KEY, 0); }
};

TEST_F(RegisterUninstallTest, WritesTheNameAndAQuotedCommand) {
  char destination[PathCapacity] = "C:\\Program Files\\Kelvra";
  ASSERT_EQ(1, RegisterUninstall(destination, 42));
  EXPECT_STREQ("C:\\Program Files\\Kelvra\\", destination);  // the caller's string too

  HKEY key = NULL;
  ASSERT_EQ(ERROR_SUCCESS, OpenUninstallKey(KEY_WOW64_32KEY, &key));
  DWORD bytes = 0;
  EXPECT_EQ("Kelvra", ReadStringValue(key, "DisplayName", &bytes));
  EXPECT_EQ(7u, bytes);  // the NUL counts
  std::string command = "\"C:\\Program Files\\Kelvra\\KELVRA.EXE\" /UNINSTALL";
  EXPECT_EQ(command, ReadStringValue(key, "UninstallString", &bytes));
  EXPECT_EQ(command.size() + 1, bytes);
  RegCloseKey(key);
}

TEST_F(RegisterUninstallTest, DescribesTheProductForAppsAndFeatures) {
  char destination[PathCapacity] = "D:\\Tools\\Kelvra\\";
  ASSERT_EQ(1, RegisterUninstall(destination, 321));
  HKEY key = NULL;
  ASSERT_EQ(ERROR_SUCCESS, OpenUninstallKey(KEY_WOW64_32KEY, &key));
  const struct {
    const char *name, *data;
  } strings[] = {
      {"DisplayVersion", "2.0"},
      {"Publisher", "Kelvra Software"},
      {"DisplayIcon", "D:\\Tools\\Kelvra\\KELVRA.EXE,0"},
      {"InstallLocation", "D:\\Tools\\Kelvra"},
      {"QuietUninstallString", "\"D:\\Tools\\Kelvra\\KELVRA.EXE\" /UNINSTALL /S"},
  };
  DWORD bytes = 0;
  for (const auto &value : strings) {
    EXPECT_EQ(value.data, ReadStringValue(key, value.name, &bytes)) << value.name;
  }
  EXPECT_EQ(321u, ReadDwordValue(key, "EstimatedSize"));
  EXPECT_EQ(1u, ReadDwordValue(key, "NoModify"));
  EXPECT_EQ(1u, ReadDwordValue(key, "NoRepair"));
  RegCloseKey(key);
  if (sizeof(void *) == 8) {
    EXPECT_NE(ERROR_SUCCESS, OpenUninstallKey(KEY_WOW64_64KEY, &key));
  }
}

TEST_F(RegisterUninstallTest, ASecondInstallRewritesTheCommand) {
  char first[PathCapacity] = "C:\\Program Files\\Kelvra\\";
  char second[PathCapacity] = "D:\\Tools\\Kelvra\\";
  ASSERT_EQ(1, RegisterUninstall(first, 1));
  ASSERT_EQ(1, RegisterUninstall(second, 1));
  HKEY key = NULL;
  ASSERT_EQ(ERROR_SUCCESS, OpenUninstallKey(KEY_WOW64_32KEY, &key));
  DWORD bytes = 0;
  EXPECT_EQ("\"D:\\Tools\\Kelvra\\KELVRA.EXE\" /UNINSTALL", ReadStringValue(key, "UninstallString", &bytes));
  RegCloseKey(key);
}

TEST_F(RegisterUninstallTest, WritesNothingWhenTheCommandWouldNotFit) {
  char destination[PathCapacity];
  std::string longPath = "C:\\" + std::string(252, 'k');
  lstrcpyA(destination, longPath.c_str());
  EXPECT_EQ(0, RegisterUninstall(destination, 1));
  HKEY key = NULL;
  EXPECT_NE(ERROR_SUCCESS, OpenUninstallKey(KEY_WOW64_32KEY, &key));
}

struct LinkContents {
  HRESULT hr;
  std::string path;
  std::string description;
};

LinkContents ReadLink(const std::string &file) {
  LinkContents contents = {E_FAIL, "", ""};
  IShellLinkA *link = NULL;
  contents.hr = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                 reinterpret_cast<void **>(&link));
  if (FAILED(contents.hr)) return contents;
  IPersistFile *persist = NULL;
  contents.hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&persist));
  if (SUCCEEDED(contents.hr)) {
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, MAX_PATH);
    contents.hr = persist->Load(wide, STGM_READ);
    char text[MAX_PATH] = "";
    if (SUCCEEDED(contents.hr) && SUCCEEDED(link->GetPath(text, MAX_PATH, NULL, SLGP_RAWPATH)))
      contents.path = text;
    text[0] = '\0';
    if (SUCCEEDED(contents.hr) && SUCCEEDED(link->GetDescription(text, MAX_PATH)))
      contents.description = text;
    persist->Release();
  }
  link->Release();
  return contents;
}

// Shortcuts need real targets to read back the same everywhere; they live
// in a fresh directory under the temporary folder.
class StartMenuShortcutTest : public testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    destination = std::string(temp) + "kelvra shortcut test\\";
    CreateDirectoryA(destination.c_str(), NULL);
    for (const char *name : {ProgramFile, HelpFile}) {
      HANDLE file = CreateFileA((destination + name).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, NULL);
      CloseHandle(file);
    }
    char programs[PathCapacity];
    GetProgramsFolder(CSIDL_PROGRAMS, programs);
    folder = programs;
  }
  void TearDown() override {
    DeleteFileA((folder + "\\Kelvra.lnk").c_str());
    DeleteFileA((folder + "\\Kelvra Help.lnk").c_str());
    RemoveDirectoryA(folder.c_str());
    DeleteFileA((destination + ProgramFile).c_str());
    DeleteFileA((destination + HelpFile).c_str());
    RemoveDirectoryA(destination.c_str());
  }
  std::string destination;  // ends in a backslash
  std::string folder;       // the product folder in the Start menu
};

TEST_F(StartMenuShortcutTest, ProgramsFolderEndsInTheProductFolder) {
  ASSERT_GT(folder.size(), 7u);
  EXPECT_EQ("\\Kelvra", folder.substr(folder.size() - 7));
}

TEST_F(StartMenuShortcutTest, WritesALinkWhosePathAndDescriptionReadBack) {
  ASSERT_HRESULT_SUCCEEDED(
      CreateStartMenuShortcut(CSIDL_PROGRAMS, destination.c_str(), HelpFile, HelpShortcut));
  LinkContents link = ReadLink(folder + "\\Kelvra Help.lnk");
  ASSERT_HRESULT_SUCCEEDED(link.hr);
  EXPECT_STRCASEEQ((destination + HelpFile).c_str(), link.path.c_str());
  EXPECT_EQ("Kelvra Help", link.description);
}

TEST_F(StartMenuShortcutTest, ASecondInstallReplacesTheLink) {
  ASSERT_HRESULT_SUCCEEDED(
      CreateStartMenuShortcut(CSIDL_PROGRAMS, destination.c_str(), HelpFile, ProgramShortcut));
  ASSERT_HRESULT_SUCCEEDED(
      CreateStartMenuShortcut(CSIDL_PROGRAMS, destination.c_str(), ProgramFile, ProgramShortcut));
  LinkContents link = ReadLink(folder + "\\Kelvra.lnk");
  ASSERT_HRESULT_SUCCEEDED(link.hr);
  EXPECT_STRCASEEQ((destination + ProgramFile).c_str(), link.path.c_str());
  EXPECT_EQ("Kelvra", link.description);
}

TEST_F(StartMenuShortcutTest, TheUnattendedModeWritesToEveryonesStartMenu) {
  char common[PathCapacity];
  GetProgramsFolder(CSIDL_COMMON_PROGRAMS, common);
  ASSERT_STRNE(folder.c_str(), common);
  ASSERT_HRESULT_SUCCEEDED(
      CreateStartMenuShortcut(CSIDL_COMMON_PROGRAMS, destination.c_str(), HelpFile, HelpShortcut));
  std::string link = std::string(common) + "\\Kelvra Help.lnk";
  EXPECT_STRCASEEQ((destination + HelpFile).c_str(), ReadLink(link).path.c_str());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "\\Kelvra Help.lnk").c_str()));
  DeleteFileA(link.c_str());
  RemoveDirectoryA(common);
}

TEST_F(StartMenuShortcutTest, SkipsATargetPathThatWouldNotFit) {
  std::string deep = "C:\\" + std::string(250, 'd') + "\\";
  EXPECT_HRESULT_FAILED(CreateStartMenuShortcut(CSIDL_PROGRAMS, deep.c_str(), HelpFile, HelpShortcut));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((folder + "\\Kelvra Help.lnk").c_str()));
}

}  // namespace
