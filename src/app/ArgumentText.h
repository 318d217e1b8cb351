// The argument text's state: the INF name and the two options, read once from
// the argument text by WinMain (and by the package checker).
#pragma once

#include <cstddef>

enum { INF_FILE_NAME_SIZE = 500 };

// The INF name from the argument text; process-wide, written once by WinMain.
// Empty after ReadArgumentText when the named INF does not fit: the run then
// refuses it rather than use a cut name, which could name another file.
extern char InfFileName[INF_FILE_NAME_SIZE];
// The options of the argument text; written once by WinMain.
extern int noDisplay;
extern int noLog;

// Sets InfFileName, noDisplay and noLog from the argument text (null counts as
// empty). Returns 0, or 1 when the INF name does not fit InfFileName (it is
// then left empty).
int ReadArgumentText(const char* argumentText);

// The path of the INF in `folder`: the folder, a backslash and InfFileName.
// 0 done; 1 InfFileName is empty (the argument text named an INF too long to
// keep); 2 the path does not fit `size` bytes (a cut path would name another
// file, so `path` is then not to be used).
enum { INF_PATH_JOINED = 0, INF_NAME_TOO_LONG = 1, INF_PATH_TOO_LONG = 2 };
int JoinInfPath(const char* folder, char* path, size_t size);
