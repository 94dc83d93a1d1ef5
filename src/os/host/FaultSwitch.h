// The host OS layer's fault switch: makes one chosen change to the machine fail, so that tests can
// walk a run through a failure at every step and check what it leaves behind.
//
// Every function of the layer that changes files, folders or the registry asks here first, once
// per call, before it does anything: opening a file for writing or creating it, each write or
// truncation, deleting, moving, creating or removing a folder, setting attributes or a file time,
// creating a registry key, setting or deleting a value, deleting a key. Reads never ask. So the
// changes of a run are numbered in the order they are asked for, the same numbers on every run of
// the same steps.
//
// $KX_HOST_FAIL_AT=N (N >= 1): the N-th change of the process is refused, once; the ones before
// and after it go ahead. $KX_HOST_COUNT_OPS=FILE: when the process ends through exit() (which
// ExitProcess uses), one line with the number of changes asked for is appended to FILE. Both are
// read once, when the layer is first used; absent, empty or malformed values leave the switch off.
//
// Used by the host OS layer only (and its tests, through ResetForTest); safe on any thread.
#pragma once

namespace os::host {

// What a refused change reports: a write runs out of disk space, anything else is denied.
enum class Change { kWrite, kOther };

// Counts one change; 0 when it may go ahead, else the errno value it fails with (ENOSPC for a
// write, EACCES otherwise), which the caller records with its own context.
int RefusedChange(Change change);

// Reads the two variables again and starts counting from 0; for tests that walk the switch
// through every N in one process.
void ResetForTest();

// The number of changes counted so far.
unsigned long long ChangeCount();

}  // namespace os::host
