#pragma once
// Saved message files: the main window's message grid as text, one line of column captions, an
// empty line, then one line per row with its five cell texts as shown, separated by TABs. GBK,
// lines ended by CR LF. The file is written beside its name first and then renamed over it, so a
// failed save never leaves a partly written file under the chosen name.
#include <array>
#include <string>
#include <vector>

using TMessageCells = std::array<std::string, 5>;  // flag, control code, content, time, outcome

// The file's bytes for `rows` (cell texts UTF-8).
std::string MessageFileText(const std::vector<TMessageCells>& rows);

// Writes the file; an existing file is replaced. False with "无法写入文件<path>！" in `error`.
bool SaveMessageFile(const std::string& path, const std::vector<TMessageCells>& rows, std::string& error);
