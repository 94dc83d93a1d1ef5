// kxtool's verbs: diagnostics for vendors and tests, one function per verb.
//
// Each verb takes the arguments after its name, writes its results to standard output and its
// errors to standard error, and returns the process exit code (0 success, 2 bad usage or
// failure). Called once, from kxtool's main thread.
#pragma once

#include <string>
#include <vector>

// kxtool ini [--unquote] FILE OP...
int RunIniVerb(const std::vector<std::string>& args);
// kxtool eval [--var NAME=VALUE]... EXPR
int RunEvalVerb(const std::vector<std::string>& args);
// kxtool expand [--var NAME=VALUE]... TEXT
int RunExpandVerb(const std::vector<std::string>& args);
// kxtool db [--root kx2project|silentsettings] FILE
int RunDbVerb(const std::vector<std::string>& args);

// kxtool xml [--keep-value-spaces] [--keep-text-spaces] [--allow-unquoted] [--skip-text]
//            [--skip-comments] FILE
int RunXmlVerb(const std::vector<std::string>& args);

// kxtool encipher IN OUT, kxtool decipher IN OUT: the project-file cipher, file to file.
int RunEncipherVerb(const std::vector<std::string>& args);
int RunDecipherVerb(const std::vector<std::string>& args);
// kxtool haval [FILE]: the engine's HAVAL of FILE or of standard input, 64 hex digits.
int RunHavalVerb(const std::vector<std::string>& args);
// kxtool reg get|set|del|list|dump ...: the registry through the registry-by-path functions; exit
// 1 when the key or value asked for does not exist.
int RunRegVerb(const std::vector<std::string>& args);
// kxtool inspect PACKAGE: the trailer and whether it checks out, the entries, the databases.
int RunPackageVerb(const std::vector<std::string>& args);
// kxtool reboot: the pending file operations in order, then the RunOnce commands of HKLM and
// HKCU, each value deleted before its command runs; exit 1 when an operation or command failed.
int RunRebootVerb(const std::vector<std::string>& args);
