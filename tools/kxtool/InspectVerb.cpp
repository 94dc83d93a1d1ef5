// kxtool inspect PACKAGE: placeholder until the verb is written.
#include "Verbs.h"

int RunInspectVerb(const std::vector<std::string>&) { return 2; }
