#include "driver/memory.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "driver/diagnostics.h"
#include "driver/platform.h"

namespace {

// The arena is a list of large chunks; each block is carved from the current
// chunk, and a block too large for a chunk gets a chunk of its own.
struct Chunk {
  Chunk* next;
  std::size_t size;
  std::size_t used;
  alignas(void*) unsigned char data[1];
};

// Chunks start small, so a small file costs little, and double up to 4 MiB.
constexpr std::size_t FIRST_CHUNK_SIZE = 1 << 14;
constexpr std::size_t CHUNK_SIZE = 4 << 20;
constexpr std::size_t HUGE_PAGE = 2 << 20;
// Every record of the model needs at most pointer alignment.
constexpr std::size_t ALIGN = alignof(void*);

// A region is a list of chunks; blocks are carved from its newest chunk.
struct Region {
  Chunk* chunks = nullptr;
  std::size_t total_bytes = 0;
};

// Most records come from the general region; statements and instruction
// details from one region each, so that the many walks along the file order
// read them from consecutive memory instead of from between operands and
// texts.
Region general_region;
Region statement_region;
Region detail_region;

Chunk* new_chunk(Region& region, std::size_t size) {
  std::size_t bytes = offsetof(Chunk, data) + size;
  void* raw = nullptr;
  if (bytes >= HUGE_PAGE) {
    // Large chunks on huge-page boundaries, so the kernel may back them
    // with huge pages: a big file's model then costs far fewer page faults.
    // The chunk takes all of its last huge page.
    bytes = (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    size = bytes - offsetof(Chunk, data);
    raw = std::aligned_alloc(HUGE_PAGE, bytes);
    if (raw) advise_huge_pages(raw, bytes);
  } else {
    raw = std::malloc(bytes);
  }
  if (!raw) return nullptr;
  Chunk* c = static_cast<Chunk*>(raw);
  c->next = region.chunks;
  c->size = size;
  c->used = 0;
  region.chunks = c;
  region.total_bytes += size;
  return c;
}

void* alloc_in(Region& region, std::size_t n) {
  if (n == 0) n = 1;
  if (n > (std::size_t(-1) >> 2)) return nullptr;
  n = (n + ALIGN - 1) & ~(ALIGN - 1);
  Chunk* c = region.chunks;
  if (!c || c->size - c->used < n) {
    // A large block gets its own chunk behind the current one, so the
    // current chunk's free room is not wasted.
    if (n > CHUNK_SIZE / 4) {
      Chunk* keep = region.chunks;
      Chunk* big = new_chunk(region, n);
      if (!big) return nullptr;
      if (keep) {
        region.chunks = keep;
        big->next = keep->next;
        keep->next = big;
      }
      big->used = n;
      return big->data;
    }
    std::size_t size = region.total_bytes < FIRST_CHUNK_SIZE ? FIRST_CHUNK_SIZE : region.total_bytes;
    if (size > CHUNK_SIZE - offsetof(Chunk, data)) size = CHUNK_SIZE - offsetof(Chunk, data);
    if (size < n) size = n;
    c = new_chunk(region, size);
    if (!c) return nullptr;
  }
  void* p = c->data + c->used;
  c->used += n;
  return p;
}

void free_region(Region& region) {
  while (region.chunks) {
    Chunk* next = region.chunks->next;
    std::free(region.chunks);
    region.chunks = next;
  }
  region.total_bytes = 0;
}

}  // namespace

void* try_alloc(std::size_t n) { return alloc_in(general_region, n); }

void* alloc_statement_memory(std::size_t n) {
  void* p = alloc_in(statement_region, n);
  if (!p) report_error(ERR_NO_MEMORY);
  return p;
}

std::size_t statement_bytes() {
  std::size_t bytes = 0;
  for (const Chunk* c = statement_region.chunks; c; c = c->next) bytes += c->used;
  return bytes;
}

void* alloc_large(std::size_t bytes) {
  void* block = nullptr;
  if (bytes >= HUGE_PAGE) {
    std::size_t rounded = (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    if (rounded < bytes) throw std::bad_alloc();
    block = std::aligned_alloc(HUGE_PAGE, rounded);
    if (block) advise_huge_pages(block, rounded);
  } else {
    block = std::malloc(bytes ? bytes : 1);
  }
  if (!block) throw std::bad_alloc();
  return block;
}

void free_large(void* block) { std::free(block); }

void* alloc_detail_memory(std::size_t n) {
  void* p = alloc_in(detail_region, n);
  if (!p) report_error(ERR_NO_MEMORY);
  return p;
}

void* alloc_or_die(std::size_t n) {
  void* p = try_alloc(n);
  if (!p) report_error(ERR_NO_MEMORY);
  return p;
}

std::string_view copy_string(std::string_view text) {
  char* p = static_cast<char*>(alloc_or_die(text.size() + 1));
  if (!text.empty()) std::memcpy(p, text.data(), text.size());
  p[text.size()] = '\0';
  return std::string_view(p, text.size());
}

void reset_arena() {
  free_region(general_region);
  free_region(statement_region);
  free_region(detail_region);
}
