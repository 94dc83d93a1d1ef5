// Deciphering of the project files "db.pdb" and "main.pdb" and the inverse that the authoring
// tools use to produce them.
//
// The key is the HAVAL digest of kDatabaseKeyText followed by the decimal length of the data, so
// the same content at another length is enciphered under another key. The cipher is GOST
// 28147-89 in block chaining with an initial vector derived from the key (the encryption of an
// all-FF block); a last partial block is combined with the encryption of the last cipher block.
//
// Changing kDatabaseKeyText, the HAVAL padding or the chaining makes every package built before
// unreadable: the engine and the authoring tool must change together.
//
// The functions are pure and keep no state between calls; any thread may call them.
#pragma once

#include <string>

// The fixed part of the key text, shared with the authoring tool. Exactly ten printable characters.
inline constexpr char kDatabaseKeyText[] = "KXSETUP-DB";

// Deciphers bytes as read from a project file. The result has the same length; an empty input
// gives an empty result without setting up the cipher.
std::string DecipherDatabase(const std::string& bytes);

// The inverse of DecipherDatabase: DecipherDatabase(EncipherDatabase(x)) == x for every x.
std::string EncipherDatabase(const std::string& bytes);

// Reads the file at path whole and deciphers it. A file that cannot be opened or read reads as
// empty text (and so does an empty file); the caller's XML reader reports that.
std::string ReadDecipheredFile(const std::string& path);
