// The SQLite file layer over FileIO: databases opened with it read, write, sync and delete
// their files (the database, its journal, its write-ahead log) through the file system in
// use, so a commit meets a full or failing disk exactly as every other writer does.
#pragma once

// The name to give sqlite3_open_v2 as its VFS; the VFS is registered (never as the default)
// by the first call. A journal or log is never opened through a link in its own place; with
// SQLITE_OPEN_NOFOLLOW neither is the database, while links to the folders above are followed.
const char* SQLiteFileIOVFSName();
