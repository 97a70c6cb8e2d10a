// Text for an XML document: a record's bytes decoded from their character set, escaped for element
// content and attribute values, and encoded in the document's character set, in one pass over the
// bytes wherever the text allows it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Escapes UTF-16 text for XML element content and attribute values:
//  - an ampersand stays only where it starts &amp; &lt; &gt; &quot; &apos; or a numeric reference to
//    a character XML allows, written with at most five characters before the semicolon; any other
//    ampersand becomes &amp;
//  - characters XML 1.0 forbids are removed: U+0000 to U+001F except tab, line feed and carriage
//    return, lone surrogates, U+FFFE and U+FFFF
//  - ' ` U+00B4 become &apos;  " U+0093 U+0094 become &quot;  > &gt;  < &lt;
std::u16string XMLEscape(std::u16string_view text);

// Appends `bytes`, taken in character set fromSet, to `out` in character set toSet, escaped when
// `escape` is set. The same bytes as encoding XMLEscape of the decoded text, except that the five
// C1 controls Windows-1252 leaves unassigned become "?" in Windows-1252 output (XML parsers reject
// those bytes). An unknown set on either side appends nothing.
void AppendXMLText(std::string& out, std::string_view bytes, int fromSet, int toSet, bool escape);

// No text grows by more than this factor in AppendXMLText or PutXMLText: an escaped character takes
// at most six bytes ("&quot;"), a converted one at most three per source byte.
constexpr std::size_t XMLTextMaxGrowth = 6;

// AppendXMLText into memory at `out`, which has room for XMLTextMaxGrowth bytes per byte of
// `bytes`; returns the end of what it put there. `scratch` is working space the caller keeps, so
// that a text allocates nothing. For a writer that makes its bytes in its output buffer.
char* PutXMLText(char* out, std::string_view bytes, int fromSet, int toSet, bool escape, std::string& scratch);
