#pragma once
// The expectations a case can state about one exchange or one value. Each gives a TExpectation:
// what was expected, what was observed and whether it was met, in the words a report shows.
// Lengths and formats come from the reading table (protocol/Reading), never from the scripts.
#include <string>
#include <vector>

#include "suite/Case.h"
#include "suite/Link.h"

// A normal reply to function `func`: control code func|80H (A0H with follow-up frames).
TExpectation ExpectNormal(const TLinkResult& r, int func);
// An abnormal reply (func|C0H) whose error word has bit `bit` (0..7) set; bit < 0: any error.
TExpectation ExpectAbnormal(const TLinkResult& r, int func, int bit);
// No reply came within the wait.
TExpectation ExpectNoReply(const TLinkResult& r);
// The reply's data after the identifier has the length of the identifier's layout; when the
// table gives no fixed length the expectation is met and says so.
TExpectation ExpectLayoutLength(const TLinkResult& r, const std::string& di);
// Every digit of the reply's data after the identifier is a decimal digit (BCD), the sign bit of
// a signed layout aside; layouts of text, words and load records are not BCD and are not checked.
TExpectation ExpectBcd(const TLinkResult& r, const std::string& di);
// low <= value <= high.
TExpectation ExpectRange(const std::string& what, double value, double low, double high);
// Two texts are equal (a value read back, a value read before).
TExpectation ExpectEqual(const std::string& what, const std::string& observed, const std::string& expected);

// What an exchange ended in, as a report shows it: "91H 应答"、"无应答（超时）"...
std::string ObservedText(const TLinkResult& r);
// The reply's data after its identifier (hex, wire order), empty when there is none.
std::string DataAfterIdentifier(const TLinkResult& r);
