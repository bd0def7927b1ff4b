#pragma once
#include <string>

// Files the recorder writes are its own: it never writes through a symbolic link, nor into a file
// that has another name elsewhere, nor truncates what it did not create.
namespace larkspur {

// Removes the file or the symbolic link at path (the link itself, never its target; a folder, a
// device or a pipe stays and the creation fails), then creates path anew so that the creation fails rather than follow or reuse anything
// (O_CREAT|O_EXCL|O_NOFOLLOW). Returns the descriptor, open for writing (and reading when
// readWrite), or -1 with errno set.
int CreateOwnFile(const std::string& path, bool readWrite = false);

// Whether path is a regular file with no other name: one the recorder may take up as its own.
bool IsOwnRegularFile(const std::string& path);

}  // namespace larkspur
