#pragma once
#include <string>
#include <string_view>

namespace ombry {

// Linux file names are any bytes, but stored documents are UTF-8 JSON: text that is not UTF-8 cannot be
// written into one.

// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no surrogates, nothing above U+10FFFF.
bool isUtf8(std::string_view bytes);

// Without the Unicode white space and line breaks at either end (a pasted no-break space, a trailing line
// feed). Bytes that are not UTF-8 end the trimming where they stand.
std::string trimWhiteSpace(std::string_view text);

// The bytes as readable text for a sentence: well-formed sequences as they are, every other byte as "\xNN".
std::string showBytes(std::string_view bytes);

}  // namespace ombry
