// Who may change the install folder: the rules an elevated setup applies
// before it puts a program there that administrators will later run, and
// the security descriptor it gives a folder it creates. Pure: the Win32
// side (folder.cpp) reads a folder's descriptor as the system stores it
// (self-relative bytes) and asks here; the Linux tests ask the same.
//
// The threat: any folder a standard user can write to, or rename, lets
// that user replace KELVRA.EXE (which the next administrator runs elevated
// through its uninstall command) or plant a DLL beside it. A link lets a
// user point the setup's writes, and the uninstaller's deletions, anywhere.
#pragma once

#include <cstddef>
#include <cstdint>

// "S-1-" and a 48-bit authority, then up to 15 sub-authorities of 32 bits.
constexpr std::size_t SidTextCapacity = 184;
// More entries than this in one folder's list is not worth judging: refused.
constexpr unsigned MaxFolderAces = 48;

// Access-control entry types and flags as stored.
constexpr std::uint8_t AceAccessAllowed = 0x00;
constexpr std::uint8_t AceAccessAllowedObject = 0x05;
constexpr std::uint8_t AceAccessAllowedCallback = 0x09;
constexpr std::uint8_t AceAccessAllowedCallbackObject = 0x0B;
constexpr std::uint8_t AceObjectInherit = 0x01;
constexpr std::uint8_t AceContainerInherit = 0x02;
constexpr std::uint8_t AceInheritOnly = 0x08;

// Rights that let their holder change what the folder holds, or who may:
// add or write files, add folders, delete in it or it, rewrite its list or
// owner, and the generic forms that include those.
constexpr std::uint32_t ChangeRights =
    0x00000002 | 0x00000004 | 0x00000040 | 0x00010000 | 0x00040000 | 0x00080000 | 0x10000000 | 0x40000000;
// Rights over a parent that let their holder move the install folder away
// (delete or rename it, or the parent itself) or take the parent over.
constexpr std::uint32_t ControlRights = 0x00000040 | 0x00010000 | 0x00040000 | 0x00080000 | 0x10000000;

struct FolderAce {
  std::uint8_t type;          // AceAccessAllowed...; others are read and not judged
  std::uint8_t flags;         // inheritance flags
  std::uint32_t mask;         // access rights
  char sid[SidTextCapacity];  // the principal, "S-1-5-32-545"; empty for a type without one
};

// A folder's owner and access list, as read from its security descriptor.
struct FolderSecurity {
  char owner[SidTextCapacity];  // empty when the descriptor names none
  bool daclPresent;             // false: no list at all, which lets everyone do everything
  unsigned aceCount;            // entries of aces in use
  FolderAce aces[MaxFolderAces];
};

// The SID at sid (size bytes available) as text into out (SidTextCapacity
// bytes). False on a malformed SID.
bool ReadSidText(const std::uint8_t *sid, std::size_t size, char *out);

// Reads a self-relative security descriptor holding at least the owner and
// the access list. Every offset is checked against size; false on anything
// malformed, or on more than MaxFolderAces entries.
bool ReadFolderSecurity(const std::uint8_t *descriptor, std::size_t size, FolderSecurity *out);

// Owners an install folder may have: Administrators, SYSTEM,
// TrustedInstaller, or the account running the setup (selfSid).
bool IsTrustedOwner(const char *sid, const char *selfSid);

enum class FolderRole {
  Destination,  // the folder the files go into
  Parent,       // a folder above it
};

enum class FolderVerdict {
  Accepted,
  Link,          // a junction or symbolic link, where the destination must be a folder
  ForeignOwner,  // owned by someone other than IsTrustedOwner allows
  OpenToOthers,  // another non-administrator may change it (Destination: ChangeRights,
                 // also through entries its files and folders inherit; Parent: ControlRights)
};

// attributes: the folder's own file attributes, read without following a
// link (FILE_ATTRIBUTE_REPARSE_POINT marks one). A parent may be a link:
// the caller judges both the link and the folder it leads to.
FolderVerdict JudgeFolder(std::uint32_t attributes, const FolderSecurity &security, const char *selfSid,
                          FolderRole role);

// An existing destination that other users may change is made safe rather
// than refused only where it holds the registered installation: an earlier
// version created it with the rights it inherited.
bool MayRepairFolder(FolderVerdict verdict, bool holdsRegisteredInstallation);

// The descriptor of a folder the setup creates, as self-relative bytes:
// owner Administrators (left out when withOwner is false), and a protected
// list (nothing inherited from above) of full control for SYSTEM and
// Administrators and read and execute for Users, all inherited by the
// files and folders below. Returns its size, or 0 when capacity is short.
constexpr std::size_t FolderDescriptorSize = 112;
std::size_t BuildFolderDescriptor(std::uint8_t *out, std::size_t capacity, bool withOwner);
