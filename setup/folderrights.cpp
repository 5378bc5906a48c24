// The install folder's rules: reading a stored security descriptor,
// judging its owner and access list, and building the one the setup gives
// a folder it creates.
//
// Format notes: a self-relative descriptor is revision (1 byte), a spare
// byte, control flags (16 bits), then the offsets of owner, group, system
// list and access list (32 bits each, 0 for none), all little-endian. A
// list is revision, spare, its size in bytes (16 bits), its entry count
// (16 bits) and 2 spare bytes, then the entries: type, flags, size (16
// bits), then for the allowing types the rights (32 bits) and the SID,
// which the object types precede with object flags (32 bits) and one
// 16-byte GUID for each of their two low bits. A SID is revision 1, its
// sub-authority count, a 48-bit big-endian authority, then the
// sub-authorities (32 bits each).
#include "folderrights.h"

#include <cstring>

namespace {

constexpr std::uint16_t DaclPresent = 0x0004;
constexpr std::uint16_t DaclProtected = 0x1000;
constexpr std::uint16_t SelfRelative = 0x8000;
constexpr std::uint32_t ReparsePointAttribute = 0x400;
constexpr std::uint32_t FullControl = 0x001F01FF;
constexpr std::uint32_t ReadAndExecute = 0x001200A9;

constexpr const char *AdministratorsSid = "S-1-5-32-544";
constexpr const char *SystemSid = "S-1-5-18";
constexpr const char *TrustedInstallerSid = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// Entries for these stand for whoever creates a file there, or owns the
// folder: nobody but a trusted owner or an administrator, once the rest holds.
constexpr const char *CreatorOwnerSid = "S-1-3-0";
constexpr const char *OwnerRightsSid = "S-1-3-4";

std::uint16_t Get16(const std::uint8_t *p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::uint32_t Get32(const std::uint8_t *p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void Put16(std::uint8_t *p, std::size_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t *p, std::uint32_t value) {
  Put16(p, value & 0xFFFF);
  Put16(p + 2, value >> 16);
}

char *AppendDecimal(char *p, std::uint32_t value) {
  char digits[10];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) *p++ = digits[--count];
  return p;
}

// The SID of an allowing entry, by its type's layout; false when it does not fit.
bool ReadAllowingAce(const std::uint8_t *ace, std::size_t size, FolderAce *out) {
  if (size < 8) return false;
  out->mask = Get32(ace + 4);
  std::size_t sidAt = 8;
  if (out->type == AceAccessAllowedObject || out->type == AceAccessAllowedCallbackObject) {
    if (size < 12) return false;
    std::uint32_t objectFlags = Get32(ace + 8);
    sidAt = 12 + (objectFlags & 1 ? 16 : 0) + (objectFlags & 2 ? 16 : 0);
    if (sidAt > size) return false;
  }
  return ReadSidText(ace + sidAt, size - sidAt, out->sid);
}

bool IsAllowing(std::uint8_t type) {
  return type == AceAccessAllowed || type == AceAccessAllowedObject || type == AceAccessAllowedCallback ||
         type == AceAccessAllowedCallbackObject;
}

bool IsTrustedPrincipal(const char *sid, const char *selfSid) {
  return IsTrustedOwner(sid, selfSid) || std::strcmp(sid, CreatorOwnerSid) == 0 ||
         std::strcmp(sid, OwnerRightsSid) == 0;
}

// A parent counts with its own rights only; the destination also with those
// its files and folders inherit, since the setup puts files there.
bool AppliesTo(const FolderAce &ace, FolderRole role) {
  if (!(ace.flags & AceInheritOnly)) return true;
  return role == FolderRole::Destination && (ace.flags & (AceObjectInherit | AceContainerInherit));
}

// The well-known SIDs the descriptor names, all of authority 5 (NT).
struct NtSid {
  std::uint8_t count;    // sub-authorities in use
  std::uint32_t sub[2];  // the sub-authorities
};
constexpr NtSid SystemNt = {1, {18, 0}};
constexpr NtSid AdministratorsNt = {2, {32, 544}};
constexpr NtSid UsersNt = {2, {32, 545}};

std::uint8_t *PutSid(std::uint8_t *p, const NtSid &sid) {
  std::memset(p, 0, 8);
  p[0] = 1;
  p[1] = sid.count;
  p[7] = 5;
  for (unsigned i = 0; i < sid.count; i++) Put32(p + 8 + 4 * i, sid.sub[i]);
  return p + 8 + 4 * sid.count;
}

// An allowing entry inherited by files and folders alike.
std::uint8_t *PutInheritedAce(std::uint8_t *p, std::uint32_t mask, const NtSid &sid) {
  p[0] = AceAccessAllowed;
  p[1] = AceObjectInherit | AceContainerInherit;
  Put16(p + 2, 16 + 4 * sid.count);
  Put32(p + 4, mask);
  return PutSid(p + 8, sid);
}

}  // namespace

bool ReadSidText(const std::uint8_t *sid, std::size_t size, char *out) {
  if (size < 8 || sid[0] != 1 || sid[1] > 15 || size < 8 + 4u * sid[1]) return false;
  std::uint64_t authority = 0;
  for (int i = 2; i < 8; i++) authority = authority << 8 | sid[i];
  char *p = out;
  std::memcpy(p, "S-1-", 4);
  p += 4;
  if (authority >> 32) {
    static const char Hex[] = "0123456789ABCDEF";
    *p++ = '0';
    *p++ = 'x';
    for (int shift = 44; shift >= 0; shift -= 4) *p++ = Hex[(authority >> shift) & 15];
  } else {
    p = AppendDecimal(p, static_cast<std::uint32_t>(authority));
  }
  for (unsigned i = 0; i < sid[1]; i++) {
    *p++ = '-';
    p = AppendDecimal(p, Get32(sid + 8 + 4 * i));
  }
  *p = '\0';
  return true;
}

bool ReadFolderSecurity(const std::uint8_t *descriptor, std::size_t size, FolderSecurity *out) {
  out->owner[0] = '\0';
  out->daclPresent = false;
  out->aceCount = 0;
  if (size < 20 || descriptor[0] != 1) return false;
  std::uint16_t control = Get16(descriptor + 2);
  if (!(control & SelfRelative)) return false;
  std::uint32_t ownerAt = Get32(descriptor + 4);
  std::uint32_t daclAt = Get32(descriptor + 16);
  if (ownerAt != 0 && (ownerAt >= size || !ReadSidText(descriptor + ownerAt, size - ownerAt, out->owner)))
    return false;
  if (!(control & DaclPresent) || daclAt == 0) return true;  // no list: open to all, judged so
  if (daclAt >= size || size - daclAt < 8) return false;
  const std::uint8_t *acl = descriptor + daclAt;
  std::size_t aclSize = Get16(acl + 2);
  unsigned count = Get16(acl + 4);
  if (aclSize < 8 || aclSize > size - daclAt || count > MaxFolderAces) return false;
  std::size_t at = 8;
  for (unsigned i = 0; i < count; i++) {
    if (aclSize - at < 4) return false;
    const std::uint8_t *ace = acl + at;
    std::size_t aceSize = Get16(ace + 2);
    if (aceSize < 4 || aceSize > aclSize - at) return false;
    FolderAce &entry = out->aces[i];
    entry.type = ace[0];
    entry.flags = ace[1];
    entry.mask = 0;
    entry.sid[0] = '\0';
    if (IsAllowing(entry.type) && !ReadAllowingAce(ace, aceSize, &entry)) return false;
    at += aceSize;
  }
  out->daclPresent = true;
  out->aceCount = count;
  return true;
}

bool IsTrustedOwner(const char *sid, const char *selfSid) {
  if (sid[0] == '\0') return false;
  return std::strcmp(sid, AdministratorsSid) == 0 || std::strcmp(sid, SystemSid) == 0 ||
         std::strcmp(sid, TrustedInstallerSid) == 0 || std::strcmp(sid, selfSid) == 0;
}

FolderVerdict JudgeFolder(std::uint32_t attributes, const FolderSecurity &security, const char *selfSid,
                          FolderRole role) {
  if (role == FolderRole::Destination && (attributes & ReparsePointAttribute)) return FolderVerdict::Link;
  if (!IsTrustedOwner(security.owner, selfSid)) return FolderVerdict::ForeignOwner;
  if (!security.daclPresent) return FolderVerdict::OpenToOthers;
  std::uint32_t rights = role == FolderRole::Destination ? ChangeRights : ControlRights;
  for (unsigned i = 0; i < security.aceCount; i++) {
    const FolderAce &ace = security.aces[i];
    if (IsAllowing(ace.type) && AppliesTo(ace, role) && (ace.mask & rights) &&
        !IsTrustedPrincipal(ace.sid, selfSid))
      return FolderVerdict::OpenToOthers;
  }
  return FolderVerdict::Accepted;
}

bool MayRepairFolder(FolderVerdict verdict, bool holdsRegisteredInstallation) {
  return verdict == FolderVerdict::OpenToOthers && holdsRegisteredInstallation;
}

std::size_t BuildFolderDescriptor(std::uint8_t *out, std::size_t capacity, bool withOwner) {
  std::size_t size = withOwner ? FolderDescriptorSize : FolderDescriptorSize - 16;
  if (capacity < size) return 0;
  std::memset(out, 0, 20);
  out[0] = 1;
  Put16(out + 2, SelfRelative | DaclProtected | DaclPresent);
  std::uint8_t *p = out + 20;
  if (withOwner) {
    Put32(out + 4, 20);
    p = PutSid(p, AdministratorsNt);
  }
  Put32(out + 16, static_cast<std::uint32_t>(p - out));
  std::uint8_t *acl = p;
  acl[0] = 2;
  acl[1] = 0;
  Put16(acl + 4, 3);
  Put16(acl + 6, 0);
  p = PutInheritedAce(acl + 8, FullControl, SystemNt);
  p = PutInheritedAce(p, FullControl, AdministratorsNt);
  p = PutInheritedAce(p, ReadAndExecute, UsersNt);
  Put16(acl + 2, static_cast<std::size_t>(p - acl));
  return size;
}
