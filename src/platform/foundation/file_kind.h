#pragma once

#include <sys/stat.h>

#include <string>

// What stands at a path, for a message that says why it cannot be used: "it is a named pipe".
inline std::string fileKindText(mode_t mode) {
  switch (mode & S_IFMT) {
    case S_IFREG: return "a regular file";
    case S_IFDIR: return "a directory";
    case S_IFLNK: return "a symbolic link";
    case S_IFIFO: return "a named pipe";
    case S_IFSOCK: return "a socket";
    case S_IFCHR:
    case S_IFBLK: return "a device";
  }
  return "not a regular file";
}
