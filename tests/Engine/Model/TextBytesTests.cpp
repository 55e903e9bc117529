#include <gtest/gtest.h>

#include "Engine/Model/TextBytes.hpp"

namespace ombry {
namespace {

TEST(TrimWhiteSpace, UnicodeSpacesAndLineBreaksAtEitherEndOnly) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"  pass \n", "pass"},
        {"\xC2\xA0pass\xC2\xA0", "pass"},                  // no-break space, as pasted
        {"\xE2\x80\xA8\xE3\x80\x80pass\xE2\x80\xA9", "pass"},  // line and paragraph separators, ideographic space
        {"\t\r\v\fpass\xC2\x85", "pass"},                  // next line
        {"a b\xC2\xA0" "c", "a b\xC2\xA0" "c"},             // inside stays
        {"\xE2\x80\x8Bpass", "\xE2\x80\x8Bpass"},           // a zero-width space is not white space
        {" \xFF pass ", "\xFF pass"},                      // bytes that are not UTF-8 stop the trimming
        {" \n\xC2\xA0", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(trimWhiteSpace(c.in), c.out) << showBytes(c.in);
}

}  // namespace
}  // namespace ombry
