#include "comm/PortLink.h"

#include "comm/PortName.h"
#include "comm/Rfc2217Transport.h"
#include "comm/SerialPort.h"
#include "comm/TcpTransport.h"

namespace {
const char* const kPortNotOpen = "串口未打开！";
}

TPortLink::~TPortLink() {
  std::string ignored;
  Close(ignored);
}

std::unique_ptr<TTransport> TPortLink::ForName(const std::string& port, std::string& error) {
  TPortName name;
  if (!ParsePortName(port, name, error)) return nullptr;
  switch (name.Kind) {
    case TPortKind::Device: return std::make_unique<TSerialPort>();
    case TPortKind::Tcp: return std::make_unique<TTcpTransport>();
    case TPortKind::TcpListen: return std::make_unique<TTcpListenTransport>();
    case TPortKind::Rfc2217: return std::make_unique<TRfc2217Transport>();
  }
  return nullptr;
}

std::shared_ptr<TTransport> TPortLink::Current() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Inner;
}

TOpenResult TPortLink::Open(const std::string& port, const std::string& settings, int inputMode) {
  if (std::shared_ptr<TTransport> open = Current(); open && open->PortOpen())
    return open->Open(port, settings, inputMode);  // refused as already open
  std::string error;
  std::shared_ptr<TTransport> next = ForName(port, error);
  if (!next) {
    TOpenResult result;
    result.Refusal = TOpenRefusal::Unavailable;
    result.Message = error;
    result.Detail = error;
    return result;
  }
  TOpenResult result = next->Open(port, settings, inputMode);
  if (result.Opened()) {
    std::lock_guard<std::mutex> guard(Lock);
    Inner = std::move(next);
  }
  return result;
}

int TPortLink::Close(std::string& error) {
  error.clear();
  std::shared_ptr<TTransport> t = Current();
  return t ? t->Close(error) : 0;
}

bool TPortLink::PortOpen() const {
  std::shared_ptr<TTransport> t = Current();
  return t && t->PortOpen();
}

std::string TPortLink::PortName() const {
  std::shared_ptr<TTransport> t = Current();
  return t ? t->PortName() : std::string();
}

std::string TPortLink::Settings() const {
  std::shared_ptr<TTransport> t = Current();
  return t ? t->Settings() : std::string();
}

int TPortLink::InputMode() const {
  std::shared_ptr<TTransport> t = Current();
  return t ? t->InputMode() : 1;
}

int TPortLink::DiscardInput(std::string& error) {
  std::shared_ptr<TTransport> t = Current();
  if (t) return t->DiscardInput(error);
  error = kPortNotOpen;
  return 1;
}

int TPortLink::Write(const uint8_t* buf, int count, std::string& error) {
  std::shared_ptr<TTransport> t = Current();
  if (t) return t->Write(buf, count, error);
  error = kPortNotOpen;
  return 1;
}

int TPortLink::InBufferCount(std::string& error) {
  std::shared_ptr<TTransport> t = Current();
  if (t) return t->InBufferCount(error);
  error = kPortNotOpen;
  return -1;
}

int TPortLink::Read(int count, std::vector<uint8_t>& out, std::string& error) {
  std::shared_ptr<TTransport> t = Current();
  if (t) return t->Read(count, out, error);
  error = kPortNotOpen;
  return -1;
}

int TPortLink::WaitReadable(int timeoutMs, std::string& error) {
  std::shared_ptr<TTransport> t = Current();
  if (t) return t->WaitReadable(timeoutMs, error);
  error = kPortNotOpen;
  return -1;
}

void TPortLink::Interrupt() {
  if (std::shared_ptr<TTransport> t = Current()) t->Interrupt();
}

std::string TPortLink::Describe() const {
  std::shared_ptr<TTransport> t = Current();
  return t ? t->Describe() : std::string();
}

bool TPortLink::Lost() const {
  std::shared_ptr<TTransport> t = Current();
  return t && t->Lost();
}
