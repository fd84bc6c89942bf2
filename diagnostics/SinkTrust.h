// What the log sink's library must be before the module loads it: the key that names it is
// the user's, writable by every program the user runs, so its library runs only in
// processes with no more rights than those programs, and only from a full path, never from
// wherever the host happens to search.
#pragma once
#include <windows.h>

// Whether a process with this elevation and user may load the user's sink: not elevated,
// and not LocalSystem.
bool SinkAllowedFor(BOOL bElevated, PSID pUser);
// The same for a token (a process's or another); false when the token cannot be read.
bool SinkAllowedForToken(HANDLE hToken);
// Whether this process may load the sink.
bool SinkAllowedInThisProcess();

// Whether the path names a file from a root: a drive letter ("C:\...") or a UNC share
// ("\\server\share\..."). Relative, drive-relative, root-relative and device paths are not.
bool SinkPathIsAbsolute(LPCWSTR pszPath);
