#pragma once
// Sub-commands of `dlt645`. Each lives in its own file and registers itself with a static
// TCliRegistrar, so main() needs no list of them.
#include <map>
#include <string>
#include <vector>

struct TCliCommand {
  std::string Name;
  std::string Summary;  // one line for `dlt645 --help`
  std::string Help;     // full text for `dlt645 NAME --help`
  int (*Run)(const std::vector<std::string>& args) = nullptr;  // args after the command name
};

void RegisterCommand(const TCliCommand& command);
const std::map<std::string, TCliCommand>& Commands();

struct TCliRegistrar {
  explicit TCliRegistrar(const TCliCommand& command) { RegisterCommand(command); }
};

// Parsed options: "--name value" pairs (repeatable), "--flag" switches and positional words.
class TCliArgs {
 public:
  // `flags` are the options that take no value. Returns false with a message on a bad option.
  bool Parse(const std::vector<std::string>& args, const std::vector<std::string>& valued,
             const std::vector<std::string>& flags, std::string& error);
  bool Has(const std::string& name) const;
  std::string Get(const std::string& name, const std::string& fallback = "") const;  // last value
  std::vector<std::string> GetAll(const std::string& name) const;
  const std::vector<std::string>& Positional() const { return Words; }

 private:
  std::multimap<std::string, std::string> Values;
  std::vector<std::string> Switches;
  std::vector<std::string> Words;
};

// Exit codes shared by the sub-commands.
enum TCliExit : int { ceOk = 0, ceFailed = 1, ceBadInput = 2 };
