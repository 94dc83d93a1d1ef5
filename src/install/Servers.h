// Servers: the phase of the installation run that registers the COM servers the file phase put in
// place. It walks the action list as it stands when it starts and registers every file action
// marked as a server, in recording order; files that a removal item took away are passed over,
// since registering them again would leave the machine pointing at a file that is gone. A server
// that cannot be registered gets an error box that tells the user how to register it by hand,
// and the phase goes on: a missing registration does not undo an otherwise good installation.
// Main thread.
#pragma once

// The whole phase with its list events: unless a plug-in refuses the list, "regsvr32.exe" from
// the first package's temporary folder is copied into the system folder when it is not there
// already (not recorded: it belongs to the system), then every server is registered.
void ServerPhase();

// The servers of the action list, each with its item events.
void RegisterServers();
