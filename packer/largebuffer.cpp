// Room for the packer's buffers of tens of megabytes: the whole input and
// the whole output. Each 4 KB page of such a buffer costs a page fault when
// first touched, and a virtual machine takes about as long over one fault
// as over compressing the page; backed by huge pages, a buffer faults once
// every 2 MB. Only Linux is asked, and only the whole huge pages inside the
// buffer; elsewhere this is a plain reserve.
#include <cstdint>
#include <sys/mman.h>

#include "packer.h"

void ReserveLargeBuffer(std::vector<std::uint8_t> *buffer, std::size_t bytes) {
  buffer->reserve(bytes);
#if defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t HugePage = std::uintptr_t(2) << 20;
  std::uintptr_t start = reinterpret_cast<std::uintptr_t>(buffer->data());
  std::uintptr_t from = (start + HugePage - 1) & ~(HugePage - 1);
  std::uintptr_t to = (start + buffer->capacity()) & ~(HugePage - 1);
  // Advice only: where the kernel declines, the pages come one by one.
  if (to > from) madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE);
#endif
}
