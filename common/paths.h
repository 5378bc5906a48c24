// Path strings as the setup and the installed program both build them:
// 8-bit, NUL-terminated, in fixed buffers, every writer bounded by its
// capacity. Portable: no system call, so the Linux tests run exactly this.
//
// One rule for the backslash after a drive: "X:" is drive-relative and
// "X:\" is the drive's root, and no function here turns one into the other.
// AddTrailingBackslash leaves "X:" alone; RemoveTrailingBackslash leaves
// "X:\" (and a lone "\") alone.
#pragma once

#include <cstddef>

// Every path the setup and the program handle fits the platform's 260-byte limit.
constexpr std::size_t PathCapacity = 260;

// dir + s1 + s2 + s3 into out, or false (out emptied) when the result and
// its NUL would not fit capacity bytes. dir may be out itself.
bool JoinPath(char *out, std::size_t capacity, const char *dir, const char *s1, const char *s2 = "",
              const char *s3 = "");

// Appends '\' unless path is empty or ends in ':' or '\'. Returns path, or
// nullptr without touching it when the backslash and the NUL would not fit
// in capacity bytes.
char *AddTrailingBackslash(char *path, std::size_t capacity = PathCapacity);

// Removes one trailing backslash, except from a drive's root such as "C:\"
// and from a lone "\", whose meaning it would change.
void RemoveTrailingBackslash(char *path);

// out = the directory part of path, up to and including its last backslash;
// for a drive-relative "X:NAME", the "X:". False (out empty) when there is
// no directory part or it would not fit capacity bytes.
bool DirectoryOfPath(const char *path, char *out, std::size_t capacity);

// Whether path names something inside directory, which ends in '\', at any
// depth; the directory itself is not inside. Letters are compared without
// regard to case, ASCII only, as the file system does for the names we make.
bool PathIsInside(const char *path, const char *directory);
