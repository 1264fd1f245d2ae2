// The application context. Kept apart from SingletonUnit.cpp so that programs using only the
// settings do not pull in the channel.
#include "services/SingletonUnit.h"

TSingleton* Singleton = nullptr;

TSingleton::TSingleton(const std::string& settingsFolder)
    : Param(std::make_unique<TDltParam>(settingsFolder)) {
  TDltParam* param = Param.get();
  Channel = std::make_unique<TChannel>([param] { return param->GetPreamble(); });
  Channel->Init();
  // Whoever reaches the context through `Singleton` finds it before the sending thread runs.
  if (Singleton == nullptr) Singleton = this;
  Channel->Start();
}

TSingleton::~TSingleton() {
  if (Channel) Channel->Shutdown();  // stop request, sending thread joined
  Channel.reset();
  Param.reset();
  if (Singleton == this) Singleton = nullptr;
}
