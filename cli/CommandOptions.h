#pragma once
// The options that describe one composed command, shared by `dlt645 compose` and `dlt645 send`:
// they fill the main window's command panel from the command line and run the same composition
// (GetCtrlItem, ApplyCtrlItem, BuildFrame) the window runs before every send.
//
//   --cmd NAME        a control-code entry, as the list shows it (e.g. the read data entry
//                     ending in -11H) or by its short name (read, write, read-mac, ...)
//   --address ADDR    meter address, up to 12 hex digits, padded with 0 in front
//   --di DI           data identifier, 8 hex digits, DI3 first
//   --len N           data length in bytes (write data with an identifier outside the catalogue)
//   --data DIGITS     the data field as typed in the main window
//   --relay ADDR      a relay, repeatable, in route order (at most 7)
//   --settings PATH   meter parameters and preamble from a Setup.ini (the file or its folder)
//   --password, --operator, --collector, --preamble LC:COUNT|none   override the settings
#include <string>
#include <vector>

#include "cli/Command.h"
#include "comm/Channel.h"
#include "protocol/DLT.h"

// Option names for TCliArgs::Parse: the valued ones and the switches (none so far). A command
// that adds options of its own appends them to these lists.
const std::vector<std::string>& CommandValuedOptions();
const std::vector<std::string>& CommandFlagOptions();

// The paragraph of --help that explains these options and lists the command names.
std::string CommandOptionsHelp();

// The command entry for a --cmd value (entry text or short name), or -1.
int CommandEntryIndex(const std::string& name);
// Short name of each list entry, in list order.
const std::vector<std::string>& CommandShortNames();

// Composes the command the options describe. Returns ceOk with `frame` and `preamble` (the
// preamble bytes the channel puts in front: LC as two uppercase hex digits); ceFailed when
// composition cannot build a frame (`error` says why); ceBadInput when an option is missing,
// malformed or does not apply to the command (`error` says which).
int ComposeFromOptions(const TCliArgs& args, TDltFrame& frame, TPreamble& preamble, std::string& error);

// The fields of a composed frame, one "Name=value" line each (CtrlCode as hex with H, booleans
// as 0 or 1).
std::string FrameFieldLines(const TDltFrame& frame);
