#pragma once
// Port names that say where the meter is: a device path as always (/dev/ttyUSB0, a pty link),
// or a network link:
//   tcp://HOST:PORT          a raw TCP client (a serial server in raw mode, a DTU by address)
//   rfc2217://HOST:PORT      a client of a serial server speaking RFC 2217; with
//                            "?fallback=raw" the link goes on as raw TCP when the server
//                            refuses the serial port option or does not speak telnet at all
//   tcp-listen://ADDR:PORT   wait for a device that dials in; the address must be given
// HOST is a name, an IPv4 address, or an IPv6 address in brackets ([::1]). Pure functions.
#include <string>

enum class TPortKind { Device, Tcp, Rfc2217, TcpListen };

struct TPortName {
  TPortKind Kind = TPortKind::Device;
  std::string Path;  // Device: the path as given
  std::string Host;  // network kinds: the host or address, without brackets
  int Port = 0;      // network kinds: 1..65535
  bool RawFallback = false;  // rfc2217 only: "?fallback=raw"
  bool operator==(const TPortName&) const = default;
};

// False with a Chinese message naming what is wrong. The scheme is taken in any letter case.
// A name without "://" is a device path and is taken as it is (the device says whether it exists).
bool ParsePortName(const std::string& text, TPortName& name, std::string& error);
// The name as it is written: the path, or scheme://host:port (IPv6 in brackets, scheme lower case).
std::string DescribePortName(const TPortName& name);
