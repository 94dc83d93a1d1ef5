// Shortcuts: the shortcut phase of the installation run. Each shortcut item of a component whose
// condition holds is created (or, for a removal item, deleted) as a link file, the item's name
// with ".lnk". A link that is already there is backed up first and restored by rollback; a link
// that cannot be written is reported in an error box and the run goes on without it. Main thread.
#pragma once

class TkxComponent;
class TkxPackage;

// A handler of ForEachComponent (Install.h) for the shortcut list; always true.
bool ShortcutHandler(TkxPackage* package, TkxComponent& component);
