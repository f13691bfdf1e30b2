// The system a guest process runs under: page tables that map its pages as
// user pages with the image's protections, an empty device behind every
// address it has not mapped (so that an access there reaches the page
// tables and faults), and a small system page with the descriptor table and
// one iret, which drops to privilege level 3 at the image's entry point,
// where every privileged instruction faults, as on the machine.
#include <algorithm>

#include "engine.h"

namespace ridemu::detail {
namespace {

constexpr uint32_t kSystemPage = 0xFFFFF000u;     // descriptor table, iret, its stack
constexpr uint32_t kDirectory = kSystemPage - kPage;  // page directory, tables below it
constexpr uint32_t kTrampoline = kSystemPage + 0x100;
// Page table entries.
constexpr uint32_t kPresent = 1, kWritable = 2, kUser = 4;

// The descriptor table's slots, and the selectors for them at a privilege
// level.
enum Slot : uint16_t { kNullSlot, kUserCodeSlot, kUserDataSlot, kKernelDataSlot, kKernelCodeSlot, kSlotCount };
constexpr uint16_t selector(Slot slot, int level) { return static_cast<uint16_t>(slot << 3 | level); }
constexpr uint16_t kUserCode = selector(kUserCodeSlot, 3), kUserData = selector(kUserDataSlot, 3),
                   kKernelData = selector(kKernelDataSlot, 0), kKernelCode = selector(kKernelCodeSlot, 0);

// Segment types: code that may be run and read, data that may be read and
// written.
constexpr uint8_t kCodeSegment = 0xA, kDataSegment = 0x2;
// A descriptor of a code or data segment at privilege `level` that spans
// all 4 GiB from address 0: limit 0xFFFFF in 4 KiB granules, 32-bit, present.
constexpr uint64_t flat_segment(int level, uint8_t type) {
  const uint64_t limit = 0xFFFFF;
  const uint64_t access = 0x80 | level << 5 | 0x10 | type;  // present, level, code or data, type
  const uint64_t flags = 0xC;                                // 4 KiB granules, 32-bit
  return (limit & 0xFFFF) | access << 40 | (limit >> 16) << 48 | flags << 52;
}

uint64_t device_read(uc_engine*, uint64_t, unsigned, void*) { return 0; }
void device_write(uc_engine*, uint64_t, unsigned, uint64_t, void*) {}

std::string reason(uc_err e) { return uc_strerror(e); }

}  // namespace

std::string Cpu::map_system(uint32_t entry, uint32_t esp) {
  // Page tables: a user page for every guest page, present when it may be
  // read or run, writable when the image says so; the system page for the
  // processor only.
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> tables;  // by directory slot
  const auto pte = [&](uint32_t va, uint32_t flags) {
    const uint32_t slot = va >> 22;
    auto it = std::find_if(tables.begin(), tables.end(),
                           [&](const auto& t) { return t.first == slot; });
    if (it == tables.end()) {
      tables.emplace_back(slot, std::vector<uint32_t>(1024, 0));
      it = tables.end() - 1;
    }
    it->second[(va >> 12) & 1023] = va | flags;
  };
  for (const Region& r : mem.regions) {
    const bool present = (r.prot & (UC_PROT_READ | UC_PROT_EXEC)) != 0;
    const uint32_t flags = present ? kPresent | kUser | ((r.prot & UC_PROT_WRITE) ? kWritable : 0)
                                   : 0;
    for (uint64_t va = r.begin; va < r.end; va += kPage) pte(static_cast<uint32_t>(va), flags);
  }
  pte(kSystemPage, kPresent | kWritable);
  const uint32_t low = kDirectory - static_cast<uint32_t>(tables.size()) * kPage;
  if (uc_err e = uc_mem_map(uc_, low, uint64_t(0x100000000ull - low), UC_PROT_ALL);
      e != UC_ERR_OK)
    return "cannot map the page tables: " + reason(e);
  // Writes into the system's own memory, which was just mapped: the first
  // failure is remembered.
  uc_err written = UC_ERR_OK;
  const auto put = [&](uint32_t at, const void* data, size_t n) {
    if (written == UC_ERR_OK) written = uc_mem_write(uc_, at, data, n);
  };
  std::vector<uint32_t> directory(1024, 0);
  for (size_t i = 0; i < tables.size(); ++i) {
    const uint32_t at = kDirectory - static_cast<uint32_t>(i + 1) * kPage;
    directory[tables[i].first] = at | kPresent | kWritable | kUser;
    put(at, tables[i].second.data(), kPage);
  }
  put(kDirectory, directory.data(), kPage);

  // Every other address is an empty device: an access to it reaches the
  // page tables, which fault it.
  uint64_t at = 0;
  const auto fill = [&](uint64_t end) -> uc_err {
    uc_err e = UC_ERR_OK;
    if (end > at)
      e = uc_mmio_map(uc_, at, static_cast<size_t>(end - at), device_read, nullptr,
                      device_write, nullptr);
    return e;
  };
  for (const Region& r : mem.regions) {
    if (uc_err e = fill(r.begin); e != UC_ERR_OK) return "cannot map the guard: " + reason(e);
    at = r.end;
  }
  if (uc_err e = fill(low); e != UC_ERR_OK) return "cannot map the guard: " + reason(e);

  uint64_t gdt[kSlotCount] = {};
  gdt[kUserCodeSlot] = flat_segment(3, kCodeSegment);
  gdt[kUserDataSlot] = flat_segment(3, kDataSegment);
  gdt[kKernelDataSlot] = flat_segment(0, kDataSegment);
  gdt[kKernelCodeSlot] = flat_segment(0, kCodeSegment);
  put(kSystemPage, gdt, sizeof gdt);
  const uint8_t iret = 0xCF;
  put(kTrampoline, &iret, 1);
  // What the iret takes: EIP, CS, EFLAGS (IF and the reserved bit), ESP, SS.
  const uint32_t frame[5] = {entry, kUserCode, 0x202, esp, kUserData};
  const uint32_t kernel_esp = kSystemPage + (kPage - static_cast<uint32_t>(sizeof frame));
  put(kernel_esp, frame, sizeof frame);
  if (written != UC_ERR_OK) return "cannot write the system page: " + reason(written);

  uc_x86_mmr gdtr{0, kSystemPage, sizeof gdt - 1, 0};
  uint32_t cr0 = 0;
  uc_err e = uc_reg_read(uc_, UC_X86_REG_CR0, &cr0);
  cr0 |= 0x80010001u;  // paging, write protect
  const uint32_t cr3 = kDirectory, eip = kTrampoline;
  const uint16_t kernel_data = kKernelData, kernel_code = kKernelCode, user_data = kUserData;
  const std::pair<int, const void*> setup[] = {
      {UC_X86_REG_GDTR, &gdtr},    {UC_X86_REG_SS, &kernel_data}, {UC_X86_REG_CS, &kernel_code},
      {UC_X86_REG_DS, &user_data}, {UC_X86_REG_ES, &user_data},   {UC_X86_REG_FS, &user_data},
      {UC_X86_REG_GS, &user_data}, {UC_X86_REG_CR3, &cr3},        {UC_X86_REG_CR0, &cr0},
      {UC_X86_REG_ESP, &kernel_esp}, {UC_X86_REG_EIP, &eip}};
  for (const auto& [id, value] : setup)
    if (e == UC_ERR_OK) e = uc_reg_write(uc_, id, value);
  return e == UC_ERR_OK ? "" : "cannot set up the processor: " + reason(e);
}

}  // namespace ridemu::detail
