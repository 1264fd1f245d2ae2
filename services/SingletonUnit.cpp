#include "services/SingletonUnit.h"

#include <algorithm>

namespace {

const char* const ParamSection = "DLTPARAMETER";
const char* const PortSection = "RS232";

}  // namespace

TKvBase::TKvBase(const std::string& folder) : IniFile(folder + "/" + FileName) {}

std::string TKvBase::FilePath() const { return IniFile.FileName(); }

TDltParam::TDltParam(const std::string& folder) : TKvBase(folder) {
  ComInfo.Opened = false;
  Load();  // every other field gets its value or its default here
}

TPreamble TDltParam::GetPreamble() const {
  TPreamble p = StoredPreamble();
  p.LCCount = std::clamp(p.LCCount, 0, MaxLCCount);
  return p;
}

TPreamble TDltParam::StoredPreamble() const {
  std::lock_guard<std::mutex> lock(PreambleLock);
  return Preamble;
}

void TDltParam::SetPreamble(const TPreamble& preamble) {
  std::lock_guard<std::mutex> lock(PreambleLock);
  Preamble = preamble;
}

void TDltParam::Load() {
  Psw = IniFile.ReadString(ParamSection, "PSW", "26404915");
  Operator = IniFile.ReadString(ParamSection, "OPERATOR", "QUIL");
  UseCollector = IniFile.ReadBool(ParamSection, "USECOLLECTOR", false);
  Collector = IniFile.ReadString(ParamSection, "COLLECTOR", "");
  TPreamble preamble;
  preamble.UseLC = IniFile.ReadBool(ParamSection, "USELC", false);
  preamble.LC = IniFile.ReadString(ParamSection, "LC", "");
  preamble.LCCount = IniFile.ReadInteger(ParamSection, "LCCOUNT", 0);
  SetPreamble(preamble);
  ComInfo.Port = IniFile.ReadString(PortSection, "SERIAL_PORT", "COM1");
  ComInfo.BaudRate = IniFile.ReadString(PortSection, "SERIAL_RATE", "9600");
  ComInfo.Parity = IniFile.ReadString(PortSection, "SERIAL_PARITY", "None");
  ComInfo.DataBits = IniFile.ReadString(PortSection, "SERIAL_DATABITS", "8");
  ComInfo.StopBits = IniFile.ReadString(PortSection, "SERIAL_STOPBITS", "1");
  ComInfo.InputMode = IniFile.ReadString(PortSection, "SERIAL_INPUTMODE", "1");
  ComInfo.Rs485 = IniFile.ReadBool(PortSection, "SERIAL_RS485", false);
  ComInfo.Rs485BeforeMs = std::clamp(IniFile.ReadInteger(PortSection, "SERIAL_RS485_BEFORE", 0), 0, 1000);
  ComInfo.Rs485AfterMs = std::clamp(IniFile.ReadInteger(PortSection, "SERIAL_RS485_AFTER", 0), 0, 1000);
}

// The RS-485 entries are written once RS-485 has been switched on (or the file has them), so a
// file of a workbench that never used it keeps exactly its entries.
bool TDltParam::SaveRs485() {
  if (!ComInfo.Rs485 && !IniFile.ValueExists(PortSection, "SERIAL_RS485")) return true;
  return IniFile.WriteBool(PortSection, "SERIAL_RS485", ComInfo.Rs485) &&
         IniFile.WriteInteger(PortSection, "SERIAL_RS485_BEFORE", ComInfo.Rs485BeforeMs) &&
         IniFile.WriteInteger(PortSection, "SERIAL_RS485_AFTER", ComInfo.Rs485AfterMs);
}

bool TDltParam::Save(std::string& error) {
  TPreamble preamble = StoredPreamble();
  // Each entry goes to the file at once; the first that fails ends the save, and the entries
  // before it stay written.
  bool ok = IniFile.WriteString(ParamSection, "PSW", Psw) &&
            IniFile.WriteString(ParamSection, "OPERATOR", Operator) &&
            IniFile.WriteBool(ParamSection, "USECOLLECTOR", UseCollector) &&
            IniFile.WriteString(ParamSection, "COLLECTOR", Collector) &&
            IniFile.WriteBool(ParamSection, "USELC", preamble.UseLC) &&
            IniFile.WriteString(ParamSection, "LC", preamble.LC) &&
            IniFile.WriteInteger(ParamSection, "LCCount", preamble.LCCount) &&
            IniFile.WriteString(PortSection, "SERIAL_PORT", ComInfo.Port) &&
            IniFile.WriteString(PortSection, "SERIAL_RATE", ComInfo.BaudRate) &&
            IniFile.WriteString(PortSection, "SERIAL_PARITY", ComInfo.Parity) &&
            IniFile.WriteString(PortSection, "SERIAL_DATABITS", ComInfo.DataBits) &&
            IniFile.WriteString(PortSection, "SERIAL_STOPBITS", ComInfo.StopBits) &&
            IniFile.WriteString(PortSection, "SERIAL_INPUTMODE", ComInfo.InputMode) && SaveRs485();
  if (!ok) {
    error = "无法写入设置文件" + FilePath() + "！";
    return false;
  }
  error.clear();
  return true;
}
