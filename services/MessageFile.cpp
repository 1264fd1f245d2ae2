#include "services/MessageFile.h"

#include "services/IniFile.h"
#include "services/TextCodec.h"

namespace {

const TMessageCells kCaptions = {"标志", "控制字", "消息内容", "时间", "情况"};

void AppendLine(std::string& out, const TMessageCells& cells) {
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) out += '\t';
    out += cells[i];
  }
  out += "\r\n";
}

}  // namespace

std::string MessageFileText(const std::vector<TMessageCells>& rows) {
  std::string text;
  AppendLine(text, kCaptions);
  text += "\r\n";
  for (const TMessageCells& row : rows) AppendLine(text, row);
  return Utf8ToGbk(text);
}

bool SaveMessageFile(const std::string& path, const std::vector<TMessageCells>& rows, std::string& error) {
  std::string why;
  if (!ReplaceFile(path, MessageFileText(rows), why)) {
    error = "无法写入文件" + path + "！";
    return false;
  }
  error.clear();
  return true;
}
