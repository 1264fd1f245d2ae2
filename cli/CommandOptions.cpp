// Command-line options -> the main window's command panel -> one composed TDltFrame.
#include "cli/CommandOptions.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "protocol/Compose.h"
#include "protocol/PublicFunc.h"
#include "services/SingletonUnit.h"
#include "services/TextCodec.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t MaxRelays = 7;

bool IsHexText(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

bool IsDecimalText(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// An address option: 1..12 hex digits, padded with 0 in front as the main window pads.
bool AddressOption(const std::string& option, const std::string& text, std::string& address, std::string& error) {
  if (text.empty() || text.size() > 12 || !IsHexText(text)) {
    error = option + "“" + text + "”应为1到12位十六进制数字的地址";
    return false;
  }
  address = PadAddress(Upper(text));
  return true;
}

// A private folder that disappears with this object.
class TTempFolder {
 public:
  bool Create(std::string& error) {
    std::error_code ec;
    std::string pattern = (fs::temp_directory_path(ec) / "dlt645-XXXXXX").string();
    if (ec) pattern = "/tmp/dlt645-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) {
      error = "无法为设置创建临时文件夹";
      return false;
    }
    Path = buf.data();
    return true;
  }
  ~TTempFolder() {
    if (Path.empty()) return;
    std::error_code ec;
    fs::remove_all(Path, ec);
  }
  std::string Path;
};

// Reads the meter parameters and the preamble as the workbench would: from Setup.ini in a folder.
// PATH may be that folder or the file itself; a file of another name is read through a private
// copy named Setup.ini, and no PATH gives the defaults of a missing file.
bool LoadSettings(const std::string& path, TMeterParams& params, TPreamble& preamble, std::string& error) {
  TTempFolder temp;
  std::string folder;
  std::error_code ec;
  if (path.empty() || fs::is_regular_file(path, ec)) {
    if (!temp.Create(error)) return false;
    folder = temp.Path;
    if (!path.empty()) {
      if (fs::path(path).filename() == "Setup.ini") {
        folder = fs::path(path).parent_path().string();
        if (folder.empty()) folder = ".";
      } else if (!fs::copy_file(path, fs::path(folder) / "Setup.ini", ec)) {
        error = "无法读取--settings“" + path + "”";
        return false;
      }
    }
  } else if (fs::is_directory(path, ec)) {
    folder = path;
  } else {
    error = "--settings“" + path + "”既不是设置文件也不是文件夹";
    return false;
  }
  // A settings file that exists but cannot be read would silently give the defaults.
  const std::string file = (fs::path(folder) / "Setup.ini").string();
  if (::access(file.c_str(), F_OK) == 0 && ::access(file.c_str(), R_OK) != 0) {
    error = "--settings：无法读取" + file;
    return false;
  }
  TDltParam settings(folder);
  params.Psw = settings.Psw;
  params.Operator = Utf8ToGbk(settings.Operator);  // the operator code's bytes as stored
  params.UseCollector = settings.UseCollector;
  params.Collector = settings.Collector;
  preamble = settings.GetPreamble();
  return true;
}

// "FE:4" -> LC "FE", count 4; "none" switches the preamble off.
bool PreambleOption(const std::string& text, TPreamble& preamble, std::string& error) {
  if (Lower(text) == "none") {
    preamble.UseLC = false;
    return true;
  }
  const size_t colon = text.find(':');
  const std::string lc = text.substr(0, colon);
  const std::string count = colon == std::string::npos ? "" : text.substr(colon + 1);
  if (lc.empty() || lc.size() > 2 || !IsHexText(lc) || count.empty() || count.size() > 2 ||
      !IsDecimalText(count) || std::stoi(count) > TDltParam::MaxLCCount) {
    error = "--preamble“" + text + "”应为LC:COUNT（例如FE:4；COUNT为0到" +
            std::to_string(TDltParam::MaxLCCount) + "）或none";
    return false;
  }
  preamble.UseLC = true;
  preamble.LC = Upper(lc);
  preamble.LCCount = std::stoi(count);
  return true;
}

// The preamble byte as the channel will send it: LC read as hex, two uppercase digits.
bool NormalisePreamble(TPreamble& preamble, std::string& error) {
  if (!preamble.UseLC || preamble.LCCount <= 0) return true;
  if (!PreambleByteText(preamble.LC, preamble.LC)) {
    error = "设置中的前导字节LC“" + preamble.LC + "”不是十六进制数";
    return false;
  }
  return true;
}

bool MeterOverrides(const TCliArgs& args, TMeterParams& params, TPreamble& preamble, std::string& error) {
  if (args.Has("--password")) {
    const std::string psw = args.Get("--password");
    if (psw.empty() || psw.size() > 8 || !IsHexText(psw)) {
      error = "--password“" + psw + "”应为1到8位十六进制数字";
      return false;
    }
    params.Psw = Upper(psw) + std::string(8 - psw.size(), '0');  // padded at the end, as saved
  }
  if (args.Has("--operator")) {
    bool ok = true;
    const std::string op = Utf8ToGbk(args.Get("--operator"), &ok);
    if (!ok || op.empty() || op.size() > 4) {
      error = "--operator“" + args.Get("--operator") + "”应为1到4个字符（按GBK字节计）";
      return false;
    }
    params.Operator = op + std::string(4 - op.size(), '0');
  }
  if (args.Has("--collector")) {
    if (!AddressOption("--collector", args.Get("--collector"), params.Collector, error)) return false;
    params.UseCollector = true;
  }
  if (args.Has("--preamble") && !PreambleOption(args.Get("--preamble"), preamble, error)) return false;
  return NormalisePreamble(preamble, error);
}

const char* const NotUsed = "不适用于";

}  // namespace

const std::vector<std::string>& CommandValuedOptions() {
  static const std::vector<std::string> names = {"--cmd",      "--address",  "--di",       "--len",
                                                 "--data",     "--relay",    "--settings", "--password",
                                                 "--operator", "--collector", "--preamble"};
  return names;
}

const std::vector<std::string>& CommandFlagOptions() {
  static const std::vector<std::string> names;
  return names;
}

const std::vector<std::string>& CommandShortNames() {
  static const std::vector<std::string> names = {
      "read",           "write",  "read-mac", "write-mac", "read-address", "write-address", "broadcast-time",
      "freeze",         "baud",   "password", "clear-demand", "clear-meter", "clear-events", "read-next"};
  return names;
}

int CommandEntryIndex(const std::string& name) {
  const auto& entries = CtrlListEntries();
  const auto& shorts = CommandShortNames();
  for (size_t i = 0; i < entries.size(); ++i)
    if (name == entries[i] || (i < shorts.size() && Lower(name) == shorts[i])) return static_cast<int>(i);
  return -1;
}

std::string CommandOptionsHelp() {
  std::string text =
      "  --cmd NAME        命令：工作台列表中的控制码条目，或其简称（见下文）\n"
      "  --address ADDR    表地址，1到12位十六进制数字（前面补0）；地址固定的命令\n"
      "                    （broadcast-time、MAC与地址类命令）不需要\n"
      "  --di DI           数据标识，8位十六进制数字，DI3在前（read、write、password、\n"
      "                    clear-events、read-next）\n"
      "  --len N           数据长度（字节），用于write目录以外的数据标识\n"
      "  --data DIGITS     数据域，按工作台中的输入方式（显示顺序；read-next的帧序号和\n"
      "                    baud的波特率为十进制）；不给时broadcast-time发送本机当前时间，\n"
      "                    freeze发送99999999（立即冻结），并各在stderr上给出提示\n"
      "  --relay ADDR      中继地址；按路由顺序重复给出，最多7个\n"
      "  --settings PATH   从Setup.ini（该文件或其所在文件夹）读取密码、操作者代码、\n"
      "                    采集器和前导字节；不给时用新安装的默认值\n"
      "  --password PSW    电表密码，最多8位十六进制数字（后面补0），按工作台设置中的\n"
      "                    显示顺序输入：权限字节PA为最后两位（PA先上线路），例如\n"
      "                    12345602为02级\n"
      "  --operator CODE   操作者代码，最多4个字符（后面补0）\n"
      "  --collector ADDR  经此采集器抄读\n"
      "  --preamble LC:N   帧前的N个前导字节LC（例如FE:4），或none\n"
      "\n命令（条目，简称）：\n";
  const auto& entries = CtrlListEntries();
  for (size_t i = 0; i < entries.size() && i < CommandShortNames().size(); ++i)
    text += "  " + entries[i] + "  " + CommandShortNames()[i] + "\n";
  return text;
}

namespace {

// The command the options name: its list index and short name.
bool ChosenCommand(const TCliArgs& args, int& index, std::string& cmd, std::string& error) {
  if (!args.Positional().empty()) {
    error = "多余的参数“" + args.Positional().front() + "”";
    return false;
  }
  if (!args.Has("--cmd")) {
    error = "缺少--cmd";
    return false;
  }
  index = CommandEntryIndex(args.Get("--cmd"));
  if (index < 0) {
    error = "--cmd“" + args.Get("--cmd") + "”不是已知的命令（见--help）";
    return false;
  }
  cmd = CommandShortNames()[static_cast<size_t>(index)];
  return true;
}

// Password, operator, collector and preamble: the settings file, then the options over it.
bool MeterSettings(const TCliArgs& args, TMeterParams& params, TPreamble& preamble, std::string& error) {
  preamble = TPreamble();
  if (args.Has("--settings") && args.Get("--settings").empty()) {
    error = "--settings缺少路径";
    return false;
  }
  return LoadSettings(args.Get("--settings"), params, preamble, error) &&
         MeterOverrides(args, params, preamble, error);
}

// The address field: the command's fixed address, or the one given.
bool AddressField(const TCliArgs& args, const TCtrlItem& selected, const std::string& cmd, TCommandFields& fields,
                  std::string& error) {
  std::string address;
  if (args.Has("--address") && !AddressOption("--address", args.Get("--address"), address, error)) return false;
  if (!selected.FixedAddress.empty()) {
    if (args.Has("--address") && address != selected.FixedAddress) {
      error = cmd + "总是发往" + selected.FixedAddress + "，请不要给出--address";
      return false;
    }
    address = selected.FixedAddress;
  } else if (address.empty()) {
    error = cmd + "需要--address";
    return false;
  }
  fields.edtID.Text = address;
  return true;
}

// The identifier field, looked up as the window looks up what is typed.
bool IdentifierField(const TCliArgs& args, const TCtrlItem& selected, const std::string& cmd, TCommandFields& fields,
                     TIdentifierDlt& cur, std::string& error) {
  const std::string di = Upper(args.Get("--di"));
  if (args.Has("--di")) {
    if (!selected.NeedsDI) {
      error = "--di" + std::string(NotUsed) + cmd;
      return false;
    }
    if (di.size() > 8 || !IsHexText(di)) {
      error = "--di“" + args.Get("--di") + "”应为8位十六进制数字";
      return false;
    }
  }
  fields.edtDS.Text = di;
  IdentifierChanged(di, selected, cur, fields.edtDS.Hint);
  return true;
}

// What a command sends when no --data is given and zeros would be wrong: broadcast time the
// local time now (YYMMDDhhmmss), freeze 99999999 (freeze at once). `note` tells the user.
std::string DefaultData(const std::string& cmd, std::string& note) {
  if (cmd == "freeze") {
    note = "未给出--data，冻结命令发送99999999（立即冻结）。";
    return "99999999";
  }
  if (cmd != "broadcast-time") return {};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char data[16], shown[32];
  std::strftime(data, sizeof data, "%y%m%d%H%M%S", &local);
  std::strftime(shown, sizeof shown, "%Y-%m-%d %H:%M:%S", &local);
  note = std::string("未给出--data，广播校时发送本机当前时间") + shown + "。";
  return data;
}

// The length and data fields as typed; `data` is what the data field holds.
bool LengthAndDataFields(const TCliArgs& args, const std::string& cmd, TCommandFields& fields, std::string& data,
                         std::string& error) {
  const std::string len = args.Get("--len");
  if (args.Has("--len") && (len.empty() || len.size() > 2 || !IsDecimalText(len))) {
    error = "--len“" + len + "”应为1到2位十进制数字的长度";
    return false;
  }
  fields.edtLen.Text = len;
  data = Upper(args.Get("--data"));
  if (!IsHexText(data)) {
    error = "--data“" + args.Get("--data") + "”应为一串（十六进制）数字";
    return false;
  }
  if (!args.Has("--data")) {
    std::string note;
    data = DefaultData(cmd, note);
    if (!note.empty()) std::fprintf(stderr, "dlt645: %s\n", note.c_str());
  }
  fields.edtData.Text = data;
  return true;
}

// The relay route, in the order given.
bool RouteOption(const TCliArgs& args, const TCtrlItem& selected, const std::string& cmd, TRouteTable& route,
                 std::string& error) {
  const std::vector<std::string> relays = args.GetAll("--relay");
  if (!relays.empty() && !selected.RelayAllowed) {
    error = "--relay" + std::string(NotUsed) + cmd;
    return false;
  }
  if (relays.size() > MaxRelays) {
    error = "--relay最多7个地址";
    return false;
  }
  for (const std::string& relay : relays) {
    std::string padded;
    if (!AddressOption("--relay", relay, padded, error)) return false;
    if (std::find(route.Addresses.begin(), route.Addresses.end(), padded) != route.Addresses.end()) {
      error = "--relay " + padded + "在路由中重复出现";
      return false;
    }
    route.Addresses.push_back(padded);
  }
  route.SetEnabled(true);
  return true;
}

// What the window would not have let the user type. Skipped when the identifier is unusable:
// composition reports that.
bool AsTheWindowAllows(const TCliArgs& args, const TCtrlItem& item, const TCommandFields& fields,
                       const std::string& cmd, const std::string& data, std::string& error) {
  const std::string di = fields.edtDS.Text;
  if (item.NeedsDI && di.size() != 8) return true;
  if (args.Has("--len") && !fields.edtLen.Enabled) {
    error = "--len" + std::string(NotUsed) + cmd + (item.Code == 0x14 ? "（数据标识在目录中时）" : "");
    return false;
  }
  if (!data.empty() && !fields.edtData.Enabled && fields.edtData.Text != data) {
    error = fields.edtData.Text.empty() ? "--data" + std::string(NotUsed) + cmd
                                        : "数据标识" + di + "的数据固定为" + fields.edtData.Text;
    return false;
  }
  if (fields.edtData.Enabled && fields.edtData.MaxLength > 0 && data.size() > static_cast<size_t>(fields.edtData.MaxLength)) {
    error = cmd + "的--data最多" + std::to_string(fields.edtData.MaxLength) + "位数字";
    return false;
  }
  return true;
}

}  // namespace

int ComposeFromOptions(const TCliArgs& args, TDltFrame& frame, TPreamble& preamble, std::string& error) {
  error.clear();
  int index = -1;
  std::string cmd;
  TMeterParams params;
  if (!ChosenCommand(args, index, cmd, error) || !MeterSettings(args, params, preamble, error)) return ceBadInput;

  TCommandFields fields;
  FillCtrlList(fields);
  fields.CtrlIndex = index;
  const TCtrlItem selected = GetCtrlItem(fields);
  TIdentifierDlt cur;
  std::string data;
  TRouteTable route(static_cast<uint8_t>(MaxRelays));
  if (!AddressField(args, selected, cmd, fields, error) || !IdentifierField(args, selected, cmd, fields, cur, error) ||
      !LengthAndDataFields(args, cmd, fields, data, error) || !RouteOption(args, selected, cmd, route, error))
    return ceBadInput;

  TCtrlItem item = GetCtrlItem(fields);
  ApplyCtrlItem(item, fields, cur);
  if (!AsTheWindowAllows(args, item, fields, cmd, data, error)) return ceBadInput;

  TBuildFailure why = bfNone;
  if (!BuildFrame(item, fields, params, route, frame, &why)) {
    error = "无法组帧：" + BuildFailureText(why);
    return ceFailed;
  }
  return ceOk;
}

std::string FrameFieldLines(const TDltFrame& f) {
  char ctrl[8];
  std::snprintf(ctrl, sizeof ctrl, "%02XH", f.CtrlCode & 0xFF);
  auto flag = [](bool b) { return b ? "1" : "0"; };
  std::string out;
  out += "Address=" + f.Address + "\n";
  out += std::string("CtrlCode=") + ctrl + "\n";
  out += "CmdName=" + f.CmdName + "\n";
  out += std::string("NoReply=") + flag(f.NoReply) + "\n";
  out += "RelayData=" + f.RelayData + "\n";
  out += "RelayCount=" + std::to_string(f.RelayCount) + "\n";
  out += "DI=" + f.DI + "\n";
  out += "Password=" + f.Password + "\n";
  out += "OperatorCode=" + f.OperatorCode + "\n";
  out += "UserData=" + f.UserData + "\n";
  out += "DataLen=" + std::to_string(f.DataLen) + "\n";
  out += "DataField=" + f.DataField + "\n";
  out += "TimeoutSec=" + std::to_string(f.TimeoutSec) + "\n";
  out += std::string("RawFrame=") + flag(f.RawFrame) + "\n";
  out += std::string("ViaCollector=") + flag(f.ViaCollector) + "\n";
  return out;
}
