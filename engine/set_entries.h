// The set's entries beyond files: the destination record, INI entries,
// registry values and file patches.
#pragma once

// Records the destination where the set asks for it, then writes the set's
// INI entries, registry entries and file patches.
void WriteSetEntries();
