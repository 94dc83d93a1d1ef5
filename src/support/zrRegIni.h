// zrRegIni: the registry and INI files reached by strings.
//
// A registry key is named by one path: a root ("HKCR", "HKCU", "HKLM", "HKU", any case), a
// backslash and the subkey; one trailing backslash is ignored; a path whose first name is no root
// is a subkey of HKCU. Every operation opens the key, does one thing and closes it; failures are
// reported by the result (false, 0, the default, an empty list) and nothing is raised. Values of
// every type are read and written as text. Registry operations may be used from any thread.
//
// INI files are reached by file name through one process-wide cache of TzrIniFile objects keyed
// by the upper-cased path; changes reach the disk when a file is closed (IniClose, IniCloseAll).
// The cache has no lock: one thread at a time (the worker thread of the file phase while the
// main thread waits, otherwise the main thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "os/os.h"

// ---------------------------------------------------------------------------------------------
// Registry

// The root and subkey of a key path.
void SplitKeyPath(const std::string& keyPath, os::RegRoot& root, std::string& subkey);

bool RegKeyExists(const std::string& keyPath);
bool RegValueExists(const std::string& keyPath, const std::string& name);
uint32_t RegValueType(const std::string& keyPath, const std::string& name);  // 0 when missing
uint32_t RegValueSize(const std::string& keyPath, const std::string& name);  // 0 when missing
// Reads at most size bytes into buffer; size becomes the value's size. False when missing or
// when the buffer is too small.
bool RegReadRaw(const std::string& keyPath, const std::string& name, void* buffer, size_t& size);
uint32_t RegReadNumber(const std::string& keyPath, const std::string& name, uint32_t defaultValue);
bool RegReadBinary(const std::string& keyPath, const std::string& name, std::vector<uint8_t>& data);
std::string RegReadBinaryText(const std::string& keyPath, const std::string& name,
                              const std::string& defaultValue);
// The text form of the value by its type (strings as stored, binary as hex digits, numbers in
// unsigned decimal, multi-strings joined by CR LF); the default when missing.
std::string RegReadText(const std::string& keyPath, const std::string& name,
                        const std::string& defaultValue);

bool RegWrite(const std::string& keyPath, const std::string& name, uint32_t type, const void* data,
              size_t size);
bool RegWriteString(const std::string& keyPath, const std::string& name, const std::string& text);
bool RegWriteNumber(const std::string& keyPath, const std::string& name, uint32_t number);
bool RegWriteBinary(const std::string& keyPath, const std::string& name, const void* data,
                    size_t size);
bool RegWriteBinaryText(const std::string& keyPath, const std::string& name,
                        const std::string& text);
bool RegWriteMultiString(const std::string& keyPath, const std::string& name,
                         const std::vector<std::string>& lines);
bool RegWriteMultiStringText(const std::string& keyPath, const std::string& name,
                             const std::string& text);
// The bytes that text stands for as a value of type (the text forms RegReadText gives): types 1
// and 2 the text and its zero, 3 pairs of hex digits, 4 a number, 7 lines; false for any other
// type.
bool RegTextBytes(uint32_t type, const std::string& text, std::vector<uint8_t>& data);
// Types 1 and 2 as a string (type 1), 3 binary from text, 4 number from text, 7 multi-string
// from text; any other type writes nothing and fails.
bool RegWriteByType(const std::string& keyPath, const std::string& name, uint32_t type,
                    const std::string& text);

bool RegDeleteValue(const std::string& keyPath, const std::string& name);
bool RegDeleteKeyPath(const std::string& keyPath, bool withSubkeys);
// Clears list, then fills it with the names of the key's direct subkeys.
void RegListSubkeys(const std::string& keyPath, std::vector<std::string>& list);
// Clears list, then fills it with the names of the key's values, in the order the system lists
// them.
void RegListValues(const std::string& keyPath, std::vector<std::string>& list);
// prefix + a random decimal number, a value name not yet used under the key.
std::string RegUniqueValueName(const std::string& keyPath, const std::string& prefix);

// ---------------------------------------------------------------------------------------------
// INI files by name

std::string IniReadString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& defaultValue);
void IniListSections(const std::string& file, std::vector<std::string>& list);
void IniListKeys(const std::string& file, const std::string& section,
                 std::vector<std::string>& list);
void IniListValues(const std::string& file, const std::string& section,
                   std::vector<std::string>& list);
bool IniWriteString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value);  // always true
void IniDeleteKey(const std::string& file, const std::string& section, const std::string& key);
// Each "name=value" line of lines is written as a key and value.
void IniWriteLines(const std::string& file, const std::string& section,
                   const std::vector<std::string>& lines);
void IniClose(const std::string& file);  // saves and forgets the file's object
void IniCloseAll();                      // saves and forgets every object
