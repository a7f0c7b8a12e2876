// The text converters the trace and the tools share.
#include <gtest/gtest.h>

#include <string>

#include "platform/host/trace.h"

namespace {

// Bytes that are no UTF-8 character read as U+FFFD, never as another character: an overlong form
// would otherwise bring in a NUL or a '\' that the bytes do not hold.
TEST(TextTest, MalformedUtf8ReadsAsReplacementCharacters) {
    const struct {
        const char* utf8;
        std::u16string text;
    } cases[] = {
        {"a\xC0\x80z", u"a\uFFFDz"},      // an overlong NUL
        {"\xE0\x81\x9C", u"\uFFFD"},      // an overlong '\'
        {"\xED\xA0\x80!", u"\uFFFD!"},    // a surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD"},  // past U+10FFFF
        {"\xC3\xA9\xF0\x9F\x98\x80", u"\u00E9\U0001F600"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, host::json::Utf16(c.utf8)) << c.utf8;
}

}  // namespace
