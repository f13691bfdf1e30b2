// Unicorn 2.0.1 made to take guest stores at full speed and to give the
// processor a TLB that fits the guest's data: the reasons, and the
// functions the build puts into that version's static archive (the build
// does its part only when it finds 2.0.1, see emulator/CMakeLists.txt; with
// any other version nothing here replaces anything).
//
// In 2.0.1 every page of guest memory counts as "clean" for ever, so each
// writable page's TLB entry carries the not-dirty mark, and every store to it
// leaves the translated code for the library's slow path: a look-up of the
// memory region, then a search of the page for translated code that the
// store might overwrite, and nothing ever removes the mark. A store there
// costs many times what a load does. Later versions remove the mark once a
// store shows the page holds no code. Here it is removed when the processor
// fills the TLB entry, for every page the processor cannot run: a page mapped
// without UC_PROT_EXEC (data and stack) can hold no translated code, since
// Unicorn refuses to fetch from it. Pages that may be run keep the mark, so
// code written into a writable and executable page still replaces what was
// translated from it. Stores by the loader and the debugger (uc_mem_write)
// never take this path. ridid-emu installs no memory read or write hook,
// which would need the slow path again.
//
// The build links with --wrap for the TLB fill, so the processor's call
// reaches __wrap_... below, which calls the library's own (__real_...); and
// it makes the library's page-lock pair weak, so the empty pair here stands
// in for it.
#include "engine.h"

namespace ridemu::detail {
namespace {
// The memory of the processor running on this thread (see DataPages).
thread_local const GuestMemory* running = nullptr;
}  // namespace

DataPages::DataPages(const GuestMemory& mem) : outer_(running) { running = &mem; }
DataPages::~DataPages() { running = outer_; }

}  // namespace ridemu::detail

#if defined(RIDID_UNICORN_STORE_PATCH)
extern "C" {
// The library's types, as far as these functions use them: the processor
// and the access attributes are passed along unread (the attributes are one
// 32-bit word of flags); addresses are 64-bit in the library's x86 build.
struct CPUState;
struct MemTxAttrs {
  uint32_t bits;
};

void __real_tlb_set_page_with_attrs_x86_64(CPUState* cpu, uint64_t vaddr, uint64_t paddr,
                                           MemTxAttrs attrs, int prot, int mmu_idx,
                                           uint64_t size);
void tlb_set_dirty_x86_64(CPUState* cpu, uint64_t vaddr);

// The TLB starts with 256 entries and grows only when it is flushed while
// more than 70% full, which a guest that never changes its page tables never
// does; 256 entries map 1 MiB, so two arrays 1 MiB (or any multiple) apart
// share their entries and a loop over both takes the slow path on every
// access. Before a processor's first fill for an access kind, the TLB is
// filled to the mark and flushed until it has 4096 entries (16 MiB, about
// 200 KiB of host memory); later flushes resize it as the library always
// does. Growing happens before that first fill is made, so no caller holds
// an entry of the old table.
void tlb_flush_x86_64(CPUState* cpu);
static void grow_tlb(CPUState* cpu, uint64_t paddr, MemTxAttrs attrs, int prot, int mmu_idx) {
  static thread_local CPUState* grown_cpu = nullptr;
  static thread_local unsigned grown_kinds = 0;
  if (grown_cpu != cpu) grown_cpu = cpu, grown_kinds = 0;
  if (grown_kinds & (1u << mmu_idx)) return;
  grown_kinds |= 1u << mmu_idx;
  for (unsigned entries = 256; entries < 4096; entries *= 2) {
    for (unsigned i = 0; i < entries; ++i)
      __real_tlb_set_page_with_attrs_x86_64(cpu, uint64_t{i} << 12, paddr, attrs, prot, mmu_idx,
                                            4096);
    tlb_flush_x86_64(cpu);
  }
}

// The TLB fill: the library's, then the not-dirty mark removed when the
// physical page (guest memory is mapped at its own address) cannot be run.
void __wrap_tlb_set_page_with_attrs_x86_64(CPUState* cpu, uint64_t vaddr, uint64_t paddr,
                                           MemTxAttrs attrs, int prot, int mmu_idx,
                                           uint64_t size) {
  grow_tlb(cpu, paddr, attrs, prot, mmu_idx);
  __real_tlb_set_page_with_attrs_x86_64(cpu, vaddr, paddr, attrs, prot, mmu_idx, size);
  using ridemu::detail::running;
  if (!running || paddr > UINT32_MAX) return;
  const ridemu::detail::Region* r = running->find(static_cast<uint32_t>(paddr));
  if (r && !(r->prot & UC_PROT_EXEC)) tlb_set_dirty_x86_64(cpu, vaddr);
}

// 2.0.1 builds a set of page locks for each store to a page that may hold
// code, only to take and free it again (it runs one processor per engine and
// takes no locks); these empty ones stand in for the pair, which halves the
// cost of such a store.
void* page_collection_lock_x86_64(void*, uint64_t, uint64_t) { return nullptr; }
void page_collection_unlock_x86_64(void*) {}
}
#endif
