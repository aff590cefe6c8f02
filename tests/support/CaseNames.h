// Readable names for parameterised test cases, shared by every suite.
//
// GoogleTest accepts only letters, digits and '_' in a case's name, and prints a parameter it cannot format as
// raw bytes ("40-byte object <47-EF ...>") in the test list and in failures. A case struct that carries a
// description string names itself with CaseName and prints itself with PrintCase:
//
//     struct Case { const char* what; ... };
//     void PrintTo(const Case& c, std::ostream* os) { PrintCase(c.what, os); }
//     INSTANTIATE_TEST_SUITE_P(Cases, Suite, testing::ValuesIn(kCases), NameFromWhat<Case>);
//
// A case without one describes itself in its PrintTo and takes its name from that with NameFromPrintTo.
#pragma once

#include <cctype>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

namespace velloran_test {

// The description with every character GoogleTest refuses in a name turned into '_'.
inline std::string CaseName(std::string text) {
    for (char& ch : text)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return text.empty() ? std::string("unnamed") : text;
}

inline void PrintCase(const std::string& what, std::ostream* os) { *os << what; }

// A name generator for INSTANTIATE_TEST_SUITE_P over cases with a `what` member.
template <typename Case>
std::string NameFromWhat(const testing::TestParamInfo<Case>& info) {
    return CaseName(info.param.what);
}

// A name generator for cases without a description member: the name is what the case's PrintTo writes, so the
// test list and the failure messages say the same thing.
template <typename Case>
std::string NameFromPrintTo(const testing::TestParamInfo<Case>& info) {
    return CaseName(testing::PrintToString(info.param));
}

}  // namespace velloran_test
