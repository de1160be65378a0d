#pragma once
// The encryption command: the whole target's bytes (alpha included) are
// combined with a keystream made from a key phrase, so running it again with
// the same phrase gives the picture back.
#include <cstdint>
#include <string>

#include "zub_main_engine.h"

// Text (UTF-8) as Windows-1252 code-page bytes, '?' for a character that
// code page lacks or for a malformed sequence. Pictures encrypted where the
// phrase was typed in that code page then decrypt with the same phrase here.
std::string Windows1252Bytes(const std::string& Text);

// The callback: encrypts gTarget with the phrase the argument carries and
// answers 2 (done in place), so a selection does not limit it.
int32_t EncryptImage(TEditor& Editor, const TActionArgument& Argument);

// File > Encrypt: asks for the phrase (KeyPhrase is the edited value and
// keeps what was confirmed) and runs EncryptImage with an undo step. Cancel,
// or an empty phrase, does nothing.
void Encrypt1Click(TEditor& Editor, std::string& KeyPhrase);
