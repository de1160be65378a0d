#pragma once
// Field extraction and the string-to-integer conversion the settings use.
#include <cstdint>
#include <string>

// The N-th field (from 1) of Text between Separator characters. With
// UseQuotes, a Quote character opens or closes a quoted stretch in which
// separators do not count (quotes stay in the field). The empty string when
// there is no such field or N is below 1.
std::string ExtractField(const std::string& Text, char Separator, int N, char Quote, bool UseQuotes);
// The same with the field in an out parameter.
void ExtractField(const std::string& Text, char Separator, int N, std::string& Field, char Quote, bool UseQuotes);

// Count characters of Text from the 1-based position Start; a length of zero
// or less, or a start past the end, gives the empty string (never the tail,
// as substr would).
std::string CopyFromPosition(const std::string& Text, long long Start, long long Count);

// Converts decimal text (leading blanks, an optional sign) or hexadecimal text
// after "$" or "0x" to an int32. False for anything trailing ("12abc"), an
// empty number, or a value outside the int32 range.
bool TryStrToInt(const std::string& Text, int32_t& Value);
// The converted value, or Default when the text does not convert.
int32_t StrToIntDef(const std::string& Text, int32_t Default);
