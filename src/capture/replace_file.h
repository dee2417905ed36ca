// Writing a file under a temporary name in its folder and renaming it over
// the name once whole: the name holds the old file or the whole new one.
#pragma once

// Creates the temporary file for path (a name, not a link): ".tavro-" and
// the file's name, in its folder, cleared first if a cut-off write left it.
// It gets the mode of the file at path, or a new file's usual one. Returns
// its descriptor, or -1 with errno set. Until end_replace, TERM, INT and
// HUP remove the temporary file before they end the process.
int begin_replace(const char *path);

// With keep, renames the temporary file (written, synced and closed by the
// caller) over the name; else, or when that fails, removes it. Returns 0,
// or -1 with errno set.
int end_replace(bool keep);

// Whether path, its last link not followed, names the file open at fd.
bool names_open_file(const char *path, int fd);
