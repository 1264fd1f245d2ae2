// The identifier catalogue: the six lists of the picker and the rules for a chosen or typed row.
#include "protocol/Catalog.h"

const char* const MsgInvalidIdentifier = "请选择有效的数据标识！";
const char* const MsgCannotWrite = "您选择的数据标识无法进行写操作！";
const char* const MsgCannotRead = "您选择的数据标识无法进行读操作！";
const char* const MsgAlreadySelected = "当前标识已经被选择！";

namespace {
constexpr size_t CodeLen = 8;  // the code before the hyphen
constexpr size_t HeadLen = 9;  // code and hyphen
constexpr size_t TailLen = 4;  // access (2) and length (2)

// The two access characters, or empty when the row is too short to have them.
std::string AccessColumns(const std::string& row) {
  if (row.size() < HeadLen + TailLen) return "";
  return row.substr(row.size() - TailLen, 2);
}

// The two length characters (" 4", "42", " x"), or what the row has of them.
std::string LengthColumns(const std::string& row) {
  return row.size() >= 2 ? row.substr(row.size() - 2) : row;
}

std::string RowDescription(const std::string& row) {
  std::string name;  // the name and the blank that follows it
  if (row.size() > HeadLen + TailLen) name = row.substr(HeadLen, row.size() - HeadLen - TailLen);
  return name + "\r\n" + "长度：" + LengthColumns(row) + " 字节";
}

// " 4" -> 4, "42" -> 42, " x" -> 0 (variable length).
int RowDataLen(const std::string& row) {
  int value = 0;
  for (char c : LengthColumns(row)) {
    if (c == ' ') continue;
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool AccessAllowed(const std::string& row, uint8_t access) {
  if (access == 1) return RowAllowsWrite(row);
  if (access == 0) return RowAllowsRead(row);
  return true;
}

// Steps 6 and 7 of selecting: read parameters of the load records and the data length.
void FillFromRow(const std::string& row, TIdentifierDlt& id) {
  id.NeedsParam = false;
  id.ParamData.clear();
  if (id.Access == 0 && id.DI.rfind("06", 0) == 0) {
    id.NeedsParam = true;
    if (id.DI.size() >= 2 && id.DI.compare(id.DI.size() - 2, 2, "02") == 0) id.ParamData = "01";
  }
  id.DataLen = RowDataLen(row);
}
}  // namespace

const std::vector<TCatalogList>& CatalogLists() {
  static const std::vector<TCatalogList> lists = {
      {"lbxEnergy",
       "电能量数据标识编码表",
       {
           "00010000-(当前)正向有功总电量 R  4",
           "00010100-(当前)正向有功尖电量 R  4",
           "00010200-(当前)正向有功峰电量 R  4",
           "00010300-(当前)正向有功平电量 R  4",
           "00010400-(当前)正向有功谷电量 R  4",
           "0001FF00-(当前)正向有功电能数据块 R  x",
           "-----------------------------",
           "00010001-(上1结算日)正向有功总电能 R  4",
           "00010101-(上1结算日)正向有功尖电量 R  4",
           "00010201-(上1结算日)正向有功峰电量 R  4",
           "00010301-(上1结算日)正向有功平电量 R  4",
           "00010401-(上1结算日)正向有功谷电量 R  4",
           "0001FF01-(上1结算日)正向有功电能数据块 R  x",
           "-----------------------------",
           "00010002-(上2结算日)正向有功总电能 R  4",
           "00010102-(上2结算日)正向有功尖电量 R  4",
           "00010202-(上2结算日)正向有功峰电量 R  4",
           "00010302-(上2结算日)正向有功平电量 R  4",
           "00010402-(上2结算日)正向有功谷电量 R  4",
           "0001FF02-(上2结算日)正向有功电能数据块 R  x",
           "-----------------------------",
           "00020000-(当前)反相有功总电能 R  4",
           "00020001-(上1结算日)反相有功总电能 R  4",
           "00020002-(上2结算日)反相有功总电能 R  4",
       }},
      {"lbxMD",
       "最大需量数据标识编码表",
       {
           "01010000-(当前)正向有功总最大需量及发生时间 R  8",
           "01010100-(当前)正向有功尖最大需量及发生时间 R  8",
           "01010200-(当前)正向有功峰最大需量及发生时间 R  8",
           "01010300-(当前)正向有功平最大需量及发生时间 R  8",
           "01010400-(当前)正向有功谷最大需量及发生时间 R  8",
           "0101FF00-(当前)正向有功最大需量及发生时间数据块 R  x",
           "-----------------------------",
           "01020000-(当前)反向有功总最大需量及发生时间 R  8",
           "01020100-(当前)反向有功尖最大需量及发生时间 R  8",
           "01020200-(当前)反向有功峰最大需量及发生时间 R  8",
           "01020300-(当前)反向有功平最大需量及发生时间 R  8",
           "01020400-(当前)反向有功谷最大需量及发生时间 R  8",
           "0102FF00-(当前)反向有功最大需量及发生时间数据块 R  x",
           "-----------------------------",
           "01010001-(上1结算日)正向有功总最大需量及发生时间 R  8",
           "01010002-(上2结算日)正向有功总最大需量及发生时间 R  8",
           "-----------------------------",
           "01020001-(上1结算)反向有功总最大需量及发生时间 R  8",
           "01020002-(上2结算)反向有功总最大需量及发生时间 R  8",
       }},
      {"lbxVar",
       "变量数据标识编码表",
       {
           "02010100-A相电压 R  2",
           "02010200-B相电压 R  2",
           "02010300-C相电压 R  2",
           "02020100-A相电流 R  3",
           "02020200-B相电流 R  3",
           "02020300-C相电流 R  3",
           "02060000-总功率因数 R  2",
           "----------------------------",
           "0280000A-电池工作时间 R  4",
       }},
      {"lbxParam",
       "参变量数据标识编码表",
       {
           "04000101-日期及周次 RW 4",
           "04000102-时间 RW 3",
           "04000103-最大需量周期 RW 1",
           "04000104-滑差时间 RW 1",
           "04000105-校表脉冲宽度 R  2",
           "04000106-两套时区表切换时间 RW 5",
           "04000107-两套日时段表切换时间 RW 5",
           "----------------------",
           "04000201-年时区数 RW 1",
           "04000202-日时段表数 RW 1",
           "04000203-日时段数 RW 1",
           "04000204-费率数 RW 1",
           "04000205-公共假日数 RW 2",
           "04000206-谐波分析次数 RW 1",
           "----------------------",
           "04000301-自动循环显示屏数 RW 1",
           "04000302-每屏显示时间 RW 1",
           "04000303-显示小数位数 RW 1",
           "04000304-显示功率（最大需量）小数位数 RW 1",
           "04000305-按键循环显示屏数 RW 1",
           "----------------------",
           "04000401-通信地址 RW 6",
           "04000402-表号 RW 6",
           "04000403-资产编号 RW32",
           "04000404-额定电压 R  6",
           "04000405-额定电流 R  6",
           "04000406-最大电流 R  6",
           "04000407-有功准确度等级 R  4",
           "04000408-无功准确度等级 R  4",
           "04000409-电表有功常数 R  3",
           "0400040A-电表无功常数 R  3",
           "0400040B-电表型号 R 10",
           "0400040C-生产日期 R 10",
           "0400040D-协议版本号 R 16",
           "----------------------",
           "04000501-电表运行状态字1 R  2",
           "04000502-电表运行状态字2 R  2",
           "04000503-电表运行状态字3 R  2",
           "04000504-电表运行状态字4 R  2",
           "04000505-电表运行状态字5 R  2",
           "04000506-电表运行状态字6 R  2",
           "04000507-电表运行状态字7 R  2",
           "----------------------",
           "04000601-有功组合方式特征字 RW 1",
           "04000602-无功组合方式1特征字 RW 1",
           "04000603-无功组合方式2特征字 RW 1",
           "----------------------",
           "04000701-调制式红外光口通信速率特征字 RW 1",
           "04000702-接触式红外光口通信速率特征字 RW 1",
           "04000703-通信口1通信速率特征字 RW 1",
           "04000704-通信口2通信速率特征字 RW 1",
           "04000705-通信口3通信速率特征字 RW 1",
           "----------------------",
           "04000801-周休日特征字 RW 1",
           "04000802-周休日采用的日时段表号 RW 1",
           "----------------------",
           "04000901-负荷记录模式字 RW 1",
           "04000902-冻结数据模式字 RW 1",
           "----------------------",
           "04000A01-负荷记录起始时间 RW 4",
           "04000A02-第1类负荷记录间隔时间 RW 2",
           "----------------------",
           "04000B01-每月第1结算日 RW 2",
           "04000B02-每月第2结算日 RW 2",
           "04000B03-每月第3结算日 RW 2",
           "----------------------",
           "04000C01-0级密码  W 4",
           "04000C02-1级密码  W 4",
           "04000C03-2级密码  W 4",
           "04000C04-3级密码  W 4",
           "04000C05-4级密码  W 4",
           "04000C06-5级密码  W 4",
           "04000C07-6级密码  W 4",
           "04000C08-7级密码  W 4",
           "04000C09-8级密码  W 4",
           "04000C0A-9级密码  W 4",
           "----------------------",
           "04000E01-正向有功功率上限值 RW 3",
           "04000E02-反向有功功率上限值 RW 3",
           "04000E03-电压上限值 RW 2",
           "04000E04-电压下限值 RW 2",
           "----------------------",
           "04010000-第一套时区表数据 RW42",
           "04010001-第一套第1日时段表数据 RW42",
           "04010002-第一套第2日时段表数据 RW42",
           "04010003-第一套第3日时段表数据 RW42",
           "04010004-第一套第4日时段表数据 RW42",
           "04010005-第一套第5日时段表数据 RW42",
           "04010006-第一套第6日时段表数据 RW42",
           "04010007-第一套第7日时段表数据 RW42",
           "04010008-第一套第8日时段表数据 RW42",
           "----------------------",
           "04020000-第二套时区表数据 RW42",
           "04020001-第二套第1日时段表数据 RW42",
           "04020002-第二套第2日时段表数据 RW42",
           "04020003-第二套第3日时段表数据 RW42",
           "04020004-第二套第4日时段表数据 RW42",
           "04020005-第二套第5日时段表数据 RW42",
           "04020006-第二套第6日时段表数据 RW42",
           "04020007-第二套第7日时段表数据 RW42",
           "04020008-第二套第8日时段表数据 RW42",
           "----------------------",
           "04800001-厂家软件版本号 R 32",
           "04800002-厂家硬件版本号 R 32",
           "04800003-厂家编号 R 32",
       }},
      {"lbxEvent",
       "事件记录数据标识编码表",
       {
           "03010000-失压总次数，总累计时间 R 18",
           "03020000-欠压总次数，总累计时间 R 18",
           "03030000-过压总次数，总累计时间 R 18",
           "03040000-断相总次数，总累计时间 R 18",
           "-----------------------------",
           "030B0000-失流总次数，总累计时间 R 18",
           "030C0000-过流总次数，总累计时间 R 18",
           "030D0000-断流总次数，总累计时间 R 18",
           "030F0000-过载总次数，总累计时间 R 18",
       }},
      {"lbxPower",
       "负荷记录数据标识编码表",
       {
           "06000000-最早记录块 R  1",
           "06000001-给定时间记录块 R  6",
           "06000002-最近一个记录块 R  1",
           "-----------------------------",
           "06010000-第1类负荷最早记录块 R  1",
           "06010001-第1类负荷给定时间记录块 R  6",
           "06010002-第1类负荷最近一个记录块 R  1",
           "-----------------------------",
           "06020000-第2类负荷最早记录块 R  1",
           "06020001-第2类负荷给定时间记录块 R  6",
           "06020002-第2类负荷最近一个记录块 R  1",
           "-----------------------------",
           "06030000-第3类负荷最早记录块 R  1",
           "06030001-第3类负荷给定时间记录块 R  6",
           "06030002-第3类负荷最近一个记录块 R  1",
           "-----------------------------",
           "06040000-第4类负荷最早记录块 R  1",
           "06040001-第4类负荷给定时间记录块 R  6",
           "06040002-第4类负荷最近一个记录块 R  1",
           "-----------------------------",
           "06050000-第5类负荷最早记录块 R  1",
           "06050001-第5类负荷给定时间记录块 R  6",
           "06050002-第5类负荷最近一个记录块 R  1",
           "-----------------------------",
           "06060000-第6类负荷最早记录块 R  1",
           "06060001-第6类负荷给定时间记录块 R  6",
           "06060002-第6类负荷最近一个记录块 R  1",
       }},
  };
  return lists;
}
const TCatalogList& CatalogList(TCatalogListId id) {
  const auto& lists = CatalogLists();
  int index = static_cast<int>(id);
  if (index < 0 || index >= static_cast<int>(lists.size())) index = 0;
  return lists[static_cast<size_t>(index)];
}

bool IsSeparatorRow(const std::string& row) { return row.rfind("----", 0) == 0; }

bool RowAllowsRead(const std::string& row) { return AccessColumns(row).find('R') != std::string::npos; }

bool RowAllowsWrite(const std::string& row) { return AccessColumns(row).find('W') != std::string::npos; }

TShownRow ShowRow(const std::string& row) {
  TShownRow shown;
  if (IsSeparatorRow(row)) {
    shown.Separator = true;
    return shown;
  }
  shown.Code = row.substr(0, CodeLen);
  // From the hyphen up to the blank before the access columns.
  if (row.size() > CodeLen + TailLen + 1) shown.Label = row.substr(CodeLen, row.size() - CodeLen - TailLen - 1);
  return shown;
}

TSelectResult SelectRow(const std::string& currentRow, const TIdentifierDlt& given) {
  TSelectResult result;
  TIdentifierDlt picked = given;
  const std::string& row = currentRow;
  if (IsSeparatorRow(row)) {
    result.Message = MsgInvalidIdentifier;
    return result;
  }
  picked.DI = row.substr(0, CodeLen);
  picked.Description = RowDescription(row);
  if (picked.Access == 1 && !RowAllowsWrite(row)) {
    result.Message = MsgCannotWrite;
    return result;
  }
  if (picked.Access == 0 && !RowAllowsRead(row)) {
    result.Message = MsgCannotRead;
    return result;
  }
  if (picked.DI == given.DI) {
    result.Message = MsgAlreadySelected;
    return result;
  }
  FillFromRow(row, picked);
  picked.Found = true;
  result.Ok = true;
  result.Picked = picked;
  return result;
}

bool LookupIdentifier(const std::string& code, TIdentifierDlt& record) {
  static const TCatalogListId order[] = {clEnergy, clVar, clMD, clEvent, clParam, clPower};
  for (TCatalogListId id : order) {
    for (const std::string& row : CatalogList(id).Rows) {
      if (IsSeparatorRow(row) || row.compare(0, CodeLen, code) != 0) continue;
      TIdentifierDlt working = record;
      working.DI = row.substr(0, CodeLen);
      working.Description = RowDescription(row);
      if (!AccessAllowed(row, working.Access)) return false;
      FillFromRow(row, working);
      record = working;
      return true;
    }
  }
  return false;
}
