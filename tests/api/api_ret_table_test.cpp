// The return-code table of VYXZebRet.h against the codes VYXZebApi.h
// defines: every VYXZEB_RET_ macro is in the table exactly once, under its
// own name and value, with a one-line text; nothing else is.  The header is
// also compiled as C (api_ret_table_c.c) and answers the same there.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "VYXZebRet.h"

extern "C" const char* RetNameFromC(int code);
extern "C" const char* RetTextFromC(int code);
extern "C" size_t RetCountFromC(void);

namespace {

// name -> value of every VYXZEB_RET_ macro in the public header.
std::map<std::string, int> HeaderCodes()
{
    // "#define VYXZEB_RET_FAILED   (-1001)   /* ... */"
    std::ifstream in(VYX_API_HEADER);
    std::map<std::string, int> codes;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string define, name, value;
        if (!(words >> define >> name >> value) || define != "#define" || name.rfind("VYXZEB_RET_", 0) != 0) continue;
        if (value.front() == '(' && value.back() == ')') value = value.substr(1, value.size() - 2);
        codes[name] = std::stoi(value);
    }
    return codes;
}

TEST(RetTable, HoldsEveryCodeOfTheApiExactlyOnce)
{
    const std::map<std::string, int> codes = HeaderCodes();
    ASSERT_GE(codes.size(), 17u) << "the header was not read: " << VYX_API_HEADER;
    size_t n = 0;
    const VYXZEB_RET_INFO* table = VYXZEB_RetTable(&n);
    ASSERT_EQ(n, codes.size());
    std::set<std::string> names;
    std::set<int> values;
    for (size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(table[i].name);
        EXPECT_TRUE(names.insert(table[i].name).second) << "twice";
        EXPECT_TRUE(values.insert(table[i].code).second) << "value twice";
        ASSERT_EQ(codes.count(table[i].name), 1u) << "not a macro of VYXZebApi.h";
        EXPECT_EQ(codes.at(table[i].name), table[i].code);
        // One line, lower case, no final full stop.
        const std::string text = table[i].text;
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.find('\n'), std::string::npos);
        EXPECT_NE(text.back(), '.');
        EXPECT_TRUE(std::islower(static_cast<unsigned char>(text[0])));
    }
    EXPECT_EQ(table[0].code, VYXZEB_RET_SUCCESS) << "success first";
}

TEST(RetTable, LooksUpNamesAndTextsFromCAndCpp)
{
    EXPECT_STREQ(VYXZEB_RetName(VYXZEB_RET_CAPTURE_TIMEOUT), "VYXZEB_RET_CAPTURE_TIMEOUT");
    EXPECT_STREQ(VYXZEB_RetName(-1007), "VYXZEB_RET_UNKNOWN") << "an unused number";
    EXPECT_STREQ(VYXZEB_RetText(1), "unknown return code");
    EXPECT_EQ(VYXZEB_RetInfo(-1012), nullptr);
    size_t n = 0;
    VYXZEB_RetTable(&n);
    EXPECT_EQ(RetCountFromC(), n);
    for (const auto& c : HeaderCodes()) {
        EXPECT_STREQ(RetNameFromC(c.second), c.first.c_str());
        EXPECT_STREQ(RetTextFromC(c.second), VYXZEB_RetText(c.second));
    }
}

}  // namespace
