#include "services/AppPaths.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "TestFiles.h"

namespace {

// Sets an environment variable for one test and restores it afterwards.
class TEnv {
 public:
  // A null value removes the variable.
  TEnv(const char* name, const char* value) : Name(name) {
    if (const char* old = getenv(name)) {
      Had = true;
      Old = old;
    }
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~TEnv() {
    if (Had)
      setenv(Name, Old.c_str(), 1);
    else
      unsetenv(Name);
  }

 private:
  const char* Name;
  bool Had = false;
  std::string Old;
};

}  // namespace

TEST(AppPaths, WritableExecutableFolderHoldsEverything) {
  TTempFolder dir;
  EXPECT_EQ(SettingsFolderFor(dir.path()), dir.path());
  EXPECT_EQ(LogFolderParentFor(dir.path()), dir.path());
  // The test program's own folder (the build tree) is writable.
  EXPECT_EQ(SettingsFolder(), ExecutableFolder());
  EXPECT_TRUE(FileExists(ExecutableFolder() + "/test_services"));
}

TEST(AppPaths, OtherwiseXdgFoldersAreUsedAndCreated) {
  TTempFolder dir;
  TEnv config("XDG_CONFIG_HOME", (dir / "config").c_str());
  TEnv state("XDG_STATE_HOME", (dir / "state").c_str());
  // A missing folder, and an installed program's writable "bin" folder (root running /usr/bin/...).
  MakeFolders(dir / "usr/bin");
  for (const std::string& exeFolder : {dir / "no/such/folder", dir / "usr/bin"}) {
    SCOPED_TRACE(exeFolder);
    EXPECT_EQ(SettingsFolderFor(exeFolder), dir / "config/dlt645-workbench");
    EXPECT_EQ(LogFolderParentFor(exeFolder), dir / "state/dlt645-workbench");
  }
  EXPECT_TRUE(FileExists(dir / "config/dlt645-workbench"));
  EXPECT_TRUE(FileExists(dir / "state/dlt645-workbench"));
}

TEST(AppPaths, RelativeOrMissingXdgVariablesFallBackToHome) {
  TTempFolder dir;
  TEnv home("HOME", dir.path().c_str());
  TEnv config("XDG_CONFIG_HOME", "relative/path");
  TEnv state("XDG_STATE_HOME", nullptr);
  const std::string missing = dir / "absent";
  EXPECT_EQ(SettingsFolderFor(missing), dir / ".config/dlt645-workbench");
  EXPECT_EQ(LogFolderParentFor(missing), dir / ".local/state/dlt645-workbench");
  EXPECT_TRUE(FileExists(dir / ".local/state/dlt645-workbench"));
}

TEST(AppPaths, MakeFoldersCreatesParentsAndRefusesFiles) {
  TTempFolder dir;
  EXPECT_TRUE(MakeFolders(dir / "a/b/c"));
  EXPECT_TRUE(FileExists(dir / "a/b/c"));
  EXPECT_TRUE(MakeFolders(dir / "a/b/c"));  // already there
  WriteBytes(dir / "file", "x");
  EXPECT_FALSE(MakeFolders(dir / "file/sub"));
  EXPECT_FALSE(MakeFolders(dir / "file"));
}
