// The SQLite file layer over FileIO: databases opened with it read, write, sync and delete
// their files (the database, its journal, its write-ahead log) through the file system in
// use, so a commit meets a full or failing disk exactly as every other writer does.
#pragma once

#include <string>

// The name to give sqlite3_open_v2 as its VFS; the VFS is registered (never as the default)
// by the first call. A journal or log is never opened through a link in its own place; with
// SQLITE_OPEN_NOFOLLOW neither is the database, while links to the folders above are followed.
const char* SQLiteFileIOVFSName();

// The URI of the file at `path` through this layer, for an opener that takes URIs (with
// SQLITE_OPEN_URI, or by ATTACH). A `disposable` file (a working copy nothing lasting depends on)
// and its journal are never synced.
std::string SQLiteFileIOURI(const std::string& path, bool disposable = false);

// A damaged file kept aside is opened read-only, by the URI this gives for it. Its header's format
// bytes, which say whether a log is to be read, are taken from whether a log stands beside it when
// they hold anything SQLite does not know (it would refuse the file at once, rows and all). The
// size its first page gives, where its log holds that page, is never more than the file and its
// log hold: a damaged log's word would have a reader go through a billion pages. With `pageSize`
// (and `reserve`, the bytes a page keeps unused at its end), a header that does not give them, as a
// first page overwritten, is read as one that does: its reader has found them from its pages.
std::string SQLiteKeptFileURI(const std::string& path, int pageSize = 0, int reserve = 0);
