#pragma once
// Splitting a text into pieces at a delimiter of any length, with a quote
// character that suspends the splitting. Positions count from 1, as in the
// algorithm these routines keep.
#include <string>
#include <vector>

// Fills Pieces with the pieces of Text between the Delimiters. Quote
// characters stay in the pieces; while a quote is open, delimiters are not
// seen. An empty text gives no piece, a text ending with the delimiter gives
// a last empty piece, an empty delimiter gives the whole text as one piece.
// Empty strings are appended until there are at least MinCount pieces.
void SplitString(const std::string& Text, const std::string& Delimiter, int MinCount, std::vector<std::string>& Pieces,
                 char Quote);

// The same pieces as a result.
std::vector<std::string> SplitStringArray(const std::string& Text, const std::string& Delimiter, char Quote,
                                          int MinCount);
