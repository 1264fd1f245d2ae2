#pragma once
#include <string>
#include <vector>

// The folder where a running virtual meter keeps its well-known link
// ($XDG_RUNTIME_DIR/dlt645-workbench, or /tmp/dlt645-workbench-<uid>).
std::string VirtualPortDir();

// Fills `list` with the serial ports of this machine (device paths: USB and ACM adapters, ttyS
// ports with hardware behind them, the virtual meter's links while they exist), sorted
// alphabetically without regard to letter case.
void ListComPorts(std::vector<std::string>& list);
