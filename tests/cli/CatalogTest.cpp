// `dlt645 catalog` as a shell runs it: the rows it lists, the filters, the formats, one
// identifier explained.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/RunProcess.h"

namespace {
TProcessResult Dlt(std::vector<std::string> args) {
  args.insert(args.begin(), DLT645_BIN);
  return RunProcess(args);
}

bool Has(const std::string& text, const std::string& line) { return ("\n" + text).find("\n" + line + "\n") != std::string::npos; }
}  // namespace

TEST(CatalogCliTest, ListsFiltersAndExplains) {
  TProcessResult r = Dlt({"catalog", "020A01"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_TRUE(Has(r.Out, "02 0A 01 01~15\tA相电压1次谐波含量…A相电压21次谐波含量\tXX.XX[%]\t%\t只读")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "02 0A 01 FF\tA相电压谐波含量数据块\tXX.XX[%]\t%\t只读"));
  EXPECT_FALSE(Has(r.Out, "02 0A 02 FF\tB相电压谐波含量数据块\tXX.XX[%]\t%\t只读"));
  r = Dlt({"catalog", "掉电", "--format", "csv"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Out.substr(0, r.Out.find('\n')), "identifier,name,layout,unit,access");
  EXPECT_TRUE(Has(r.Out, "\"03 11 00 00\",\"掉电总次数\",\"XXXXXX\",\"\",\"只读\"")) << r.Out;
  r = Dlt({"catalog", "03110000", "--format", "json"});
  EXPECT_EQ(r.Out, "[\n  {\"identifier\": \"03 11 00 00\", \"name\": \"掉电总次数\", \"layout\": \"XXXXXX\", "
                   "\"unit\": \"\", \"access\": \"只读\"}\n]\n");
  r = Dlt({"catalog", "00013F0C"});
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_TRUE(Has(r.Out, "Name=(上12结算日)正向有功费率63电能")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "Length=4"));
  EXPECT_TRUE(Has(r.Out, "Unit=kWh"));
  r = Dlt({"catalog", "03300001"});
  EXPECT_TRUE(Has(r.Out, "Field=操作者代码: HEX*4")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "Length=50"));
  r = Dlt({"catalog", "06000001"});  // a load record from a given time: its request, its values
  EXPECT_TRUE(Has(r.Out, "Request=NN YYMMDDhhmm")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "Field=C相电流")) << r.Out;
  EXPECT_TRUE(Has(r.Out, "Field=当前无功需量")) << r.Out;
  EXPECT_EQ(Dlt({"catalog", "00014000"}).ExitCode, 1);  // tariff 64: not in the table
  EXPECT_EQ(Dlt({"catalog", "--format", "xml"}).ExitCode, 2);
}
