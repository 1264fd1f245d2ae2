#pragma once
// Settings backed by "Setup.ini", and the application context holding settings and channel.
#include <memory>
#include <mutex>
#include <string>

#include "comm/Channel.h"
#include "protocol/Types.h"
#include "services/IniFile.h"

// Base of objects backed by the INI settings file in the application's settings folder.
class TKvBase {
 public:
  explicit TKvBase(const std::string& folder);
  virtual ~TKvBase() = default;
  const std::string FileName = "Setup.ini";
  std::string FilePath() const;  // folder + "/" + FileName

 protected:
  TIniFile IniFile;
};

class TDltParam : public TKvBase {
 public:
  explicit TDltParam(const std::string& folder);  // loads at once

  std::string Psw = "26404915";
  std::string Operator = "QUIL";
  bool UseCollector = false;
  std::string Collector;
  TComInfo ComInfo;

  // The preamble fields are read by the sending thread while the parameter dialog may change
  // them: both go through these two calls, which copy all three under one lock.
  // GetPreamble's count is bounded to 0..MaxLCCount (a hand-edited file may hold anything);
  // StoredPreamble gives the values as read or set, for the parameter dialog to show.
  TPreamble GetPreamble() const;
  TPreamble StoredPreamble() const;
  void SetPreamble(const TPreamble& preamble);
  static constexpr int MaxLCCount = 64;

  void Load();
  // Writes every field back in order; false with "无法写入设置文件<path>！" when it cannot.
  bool Save(std::string& error);

 private:
  bool SaveRs485();
  mutable std::mutex PreambleLock;
  TPreamble Preamble;
};

class TSingleton {
 public:
  // Creates the settings (loaded from `settingsFolder`) and the channel, whose sending thread
  // runs from then on.
  explicit TSingleton(const std::string& settingsFolder);
  ~TSingleton();  // thread joined, then channel, then settings
  std::unique_ptr<TDltParam> Param;
  std::unique_ptr<TChannel> Channel;
};

extern TSingleton* Singleton;
