#pragma once
// Texts of the program and their GBK bytes (taken from an independent GBK table).
#include <string>

inline const std::string kLabelNormal = " 正常日志|";
inline const std::string kLabelNormalGbk = "\x20\xD5\xFD\xB3\xA3\xC8\xD5\xD6\xBE\x7C";
inline const std::string kLabelDebug = " 调试日志|";
inline const std::string kLabelDebugGbk = "\x20\xB5\xF7\xCA\xD4\xC8\xD5\xD6\xBE\x7C";
inline const std::string kLabelError = " 错误日志|";
inline const std::string kLabelErrorGbk = "\x20\xB4\xED\xCE\xF3\xC8\xD5\xD6\xBE\x7C";
inline const std::string kLabelException = " 异常日志|";
inline const std::string kLabelExceptionGbk = "\x20\xD2\xEC\xB3\xA3\xC8\xD5\xD6\xBE\x7C";
inline const std::string kLabelAlarm = " 报警日志|";
inline const std::string kLabelAlarmGbk = "\x20\xB1\xA8\xBE\xAF\xC8\xD5\xD6\xBE\x7C";
inline const std::string kFrameSentPrefix = "发送报文：";
inline const std::string kFrameSentPrefixGbk = "\xB7\xA2\xCB\xCD\xB1\xA8\xCE\xC4\xA3\xBA";
inline const std::string kParityEven = "偶校验";
inline const std::string kParityEvenGbk = "\xC5\xBC\xD0\xA3\xD1\xE9";
inline const std::string kTransferText = "文本";
inline const std::string kTransferTextGbk = "\xCE\xC4\xB1\xBE";
