#pragma once
// Where the program keeps its files. They live beside the executable when its folder is writable
// and is not a "bin" folder of installed programs (/usr/bin, /usr/local/bin); otherwise the settings go to $XDG_CONFIG_HOME/dlt645-workbench (default ~/.config/...) and the
// folder "log" to $XDG_STATE_HOME/dlt645-workbench (default ~/.local/state/...).
#include <string>

// The folder of the running executable (from /proc/self/exe), without a trailing '/'.
std::string ExecutableFolder();
// The folder of "Setup.ini" and "logtype.ini"; created when missing.
std::string SettingsFolder();
// The folder that holds the folder "log"; created when missing.
std::string LogFolderParent();
// The choices of SettingsFolder and LogFolderParent for a given executable folder.
std::string SettingsFolderFor(const std::string& executableFolder);
std::string LogFolderParentFor(const std::string& executableFolder);
// Creates `path` and its missing parents; true when it exists as a folder afterwards.
bool MakeFolders(const std::string& path);
