// The Connect command and the procedures that (re)open one side from its profile: release the
// old connection, open the provider with the side's properties, hand the tree its connection and
// rebuild it, and read the DBMS text that tree captions and new tasks show.
#pragma once

namespace tabulon::converters {

class Workbench;

// Refused (with its question or message) while tasks run; else ConnectSource, then
// ConnectTarget (also after a failed source), then the character set name "LATIN1".
void ConnectCommand(Workbench& owner);
void ConnectSource(Workbench& owner);
void ConnectTarget(Workbench& owner);

}  // namespace tabulon::converters
