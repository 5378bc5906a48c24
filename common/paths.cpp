// Bounded path builders shared by the setup and the installed program.
#include "paths.h"

#include "text.h"

#include <cstring>

bool JoinPath(char *out, std::size_t capacity, const char *dir, const char *s1, const char *s2,
              const char *s3) {
  const char *parts[] = {dir, s1, s2, s3};
  std::size_t used = 0;
  for (const char *part : parts) {
    std::size_t length = std::strlen(part);
    if (used + length + 1 > capacity) {
      if (capacity > 0) out[0] = '\0';
      return false;
    }
    std::memmove(out + used, part, length);  // dir may be out itself
    used += length;
  }
  out[used] = '\0';
  return true;
}

char *AddTrailingBackslash(char *path, std::size_t capacity) {
  std::size_t length = std::strlen(path);
  if (length == 0 || path[length - 1] == ':' || path[length - 1] == '\\') return path;
  if (length + 2 > capacity) return nullptr;
  path[length] = '\\';
  path[length + 1] = '\0';
  return path;
}

void RemoveTrailingBackslash(char *path) {
  std::size_t length = std::strlen(path);
  if (length < 2 || path[length - 1] != '\\' || path[length - 2] == ':') return;
  path[length - 1] = '\0';
}

bool DirectoryOfPath(const char *path, char *out, std::size_t capacity) {
  if (capacity == 0) return false;
  out[0] = '\0';
  const char *slash = std::strrchr(path, '\\');
  std::size_t length;
  if (slash)
    length = std::size_t(slash - path) + 1;
  else if (path[0] != '\0' && path[1] == ':')
    length = 2;
  else
    return false;
  if (length >= capacity) return false;
  std::memcpy(out, path, length);
  out[length] = '\0';
  return true;
}

bool PathIsInside(const char *path, const char *directory) {
  std::size_t length = std::strlen(directory);
  if (length == 0 || directory[length - 1] != '\\' || std::strlen(path) <= length) return false;
  return SameTextPrefix(path, directory);
}
