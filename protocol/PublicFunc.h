#pragma once
// Small stateless helpers shared by the windows and the communication code.
#include <string>
#include <vector>

#include "protocol/DateTime.h"
#include "protocol/Types.h"

std::string ReverseHex(const std::string& text);      // "123" -> "2301"
std::string ReverseDI(const std::string& text);       // 8 chars, else empty
std::string ReverseAddress(const std::string& text);  // first 12 chars reversed pairwise, else empty
std::string PadAddress(const std::string& text);      // last 12 of "000000000000" + text

std::string DateTimeText(TDateTime value);  // "yyyy-mm-dd hh:mm:ss"
std::string DateText(TDateTime value);      // "yyyy-mm-dd"
std::string TimeText(TDateTime value);      // "hh:mm:ss"

// Key filters: return the key, or '\0' when the key is to be discarded.
char FilterHexSpaceKey(char key);
char FilterHexKey(char key);
char FilterDigitKey(char key);

// "NONE"/"无校验" -> "N", "EVEN"/"偶校验" -> "E", "ODD"/"奇校验" -> "O"; else `result` unchanged.
void ParityLetter(const std::string& parity, std::string& result);
// "9600,N,8,1"; with RS-485 on "9600,N,8,1,RS485", with delays "9600,N,8,1,RS485:BEFORE:AFTER"
std::string CommSettingsText(const TComInfo& info);

// Index of the first item equal to `text` ignoring letter case, or -1.
int SelectComboItem(const std::vector<std::string>& items, const std::string& text);
