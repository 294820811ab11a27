// Memory of a run: one arena from which the statement model, its texts and
// every other record of the run are allocated. Nothing is freed one by one;
// reset_arena drops everything at once so a whole run can be repeated inside
// one process (the unit tests and the fuzz harness do that).
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string_view>
#include <vector>

// A block of n bytes, aligned for a pointer (enough for every record of the
// run), its contents undefined; when no memory can be had the run ends with error 5 "Not enough memory".
void* alloc_or_die(std::size_t n);

// Like alloc_or_die, but returns nullptr instead of ending the run. The
// command line records input file names this way, so that a failure becomes
// a state bit that check_command_line reports in its order.
void* try_alloc(std::size_t n);

// A block for a statement record (ends the run like alloc_or_die). The
// statements have a region of their own, so walks along the file order read
// consecutive memory.
void* alloc_statement_memory(std::size_t n);

// Bytes the statement region has handed out so far: divided by the size of
// a statement record, an upper bound for the statements of the run.
std::size_t statement_bytes();

// A block for an instruction detail (ends the run like alloc_or_die), from a
// region of their own for the same reason.
void* alloc_detail_memory(std::size_t n);

// Large arrays that live outside the arena, freed with their owner (the
// commonization's index): a block of 2 MiB or more starts on a huge-page
// boundary and is offered to the kernel for huge pages, so tens of
// megabytes cost a few page faults instead of thousands. Throws
// std::bad_alloc when no memory can be had, as the standard allocator does.
void* alloc_large(std::size_t bytes);
void free_large(void* block);

template <typename T>
struct LargeAllocator {
  using value_type = T;
  LargeAllocator() = default;
  template <typename U>
  LargeAllocator(const LargeAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(alloc_large(n * sizeof(T)));
  }
  void deallocate(T* block, std::size_t) noexcept { free_large(block); }
  template <typename U>
  bool operator==(const LargeAllocator<U>&) const noexcept {
    return true;
  }
  template <typename U>
  bool operator!=(const LargeAllocator<U>&) const noexcept {
    return false;
  }
};

template <typename T>
using LargeVector = std::vector<T, LargeAllocator<T>>;

// An own copy of a byte string (NUL bytes included) in arena memory.
std::string_view copy_string(std::string_view text);

// Room for n records of type T from the arena, not initialised: for a
// caller that constructs each record in place once (placement new).
template <typename T>
T* alloc_room(std::size_t n) {
  static_assert(alignof(T) <= alignof(void*), "arena blocks are pointer-aligned");
  return static_cast<T*>(alloc_or_die(sizeof(T) * (n ? n : 1)));
}

// A record of type T, value-initialised (zero where it has no initialisers),
// from the arena.
template <typename T>
T* alloc_record() {
  return new (alloc_room<T>(1)) T();
}

// An array of n records of type T, each value-initialised, from the arena.
template <typename T>
T* alloc_array(std::size_t n) {
  T* block = alloc_room<T>(n);
  for (std::size_t i = 0; i < (n ? n : 1); ++i) new (block + i) T();
  return block;
}

// Frees every block of the arena. Records handed out before are dead.
void reset_arena();
