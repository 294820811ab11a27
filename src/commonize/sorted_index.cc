#include "commonize/sorted_index.h"

#include <utility>

void SortedIndex::build(LargeVector<Entry>&& given) {
  LargeVector<Entry> sorted;
  LargeVector<std::uint32_t> bucket_start;
  {
    LargeVector<Entry> entries = std::move(given);
    // About two entries a bucket, between 16 and 65,536 buckets: a small
    // unit's index stays small.
    int bits = 4;
    while (bits < 16 && (std::size_t(1) << bits) * 2 < entries.size()) ++bits;
    bucket_shift_ = 64 - bits;
    buckets_ = std::size_t(1) << bits;
    bucket_start.assign(buckets_ + 1, 0);
    for (const Entry& e : entries) ++bucket_start[bucket_of(e.hash)];
    std::uint32_t sum = 0;
    for (std::uint32_t& n : bucket_start) n = sum += n;
    sorted.resize(entries.size());
    for (std::size_t i = entries.size(); i-- > 0;) {
      sorted[--bucket_start[bucket_of(entries[i].hash)]] = entries[i];
    }
  }
  // bucket_start[b] is now where bucket b begins.
  auto by_hash = [](const Entry& a, const Entry& b) { return a.hash < b.hash; };
  members_.resize(sorted.size());
  group_bucket_.assign(buckets_ + 1, 0);
  for (std::size_t b = 0; b < buckets_; ++b) {
    auto first = sorted.begin() + bucket_start[b];
    auto last = sorted.begin() + bucket_start[b + 1];
    if (!std::is_sorted(first, last, by_hash)) std::stable_sort(first, last, by_hash);
    group_bucket_[b] = static_cast<std::uint32_t>(group_hash_.size());
    for (std::size_t i = bucket_start[b]; i < bucket_start[b + 1]; ++i) {
      if (i == bucket_start[b] || sorted[i].hash != sorted[i - 1].hash) {
        group_hash_.push_back(sorted[i].hash);
        group_begin_.push_back(static_cast<std::uint32_t>(i));
      }
      members_[i] = sorted[i].member;
    }
  }
  group_bucket_[buckets_] = static_cast<std::uint32_t>(group_hash_.size());
  group_begin_.push_back(static_cast<std::uint32_t>(members_.size()));
  sorted = LargeVector<Entry>();
  skip_.resize(members_.size() + 1);
  for (std::size_t i = 0; i < skip_.size(); ++i) skip_[i] = static_cast<std::uint32_t>(i);
  alike_.assign(members_.size(), ALIKE_UNKNOWN);
}

std::size_t SortedIndex::fetch_batch(std::size_t i, std::size_t hi) {
  constexpr std::size_t BATCH = 16;
  Statement* batch[BATCH];
  bool unknown[BATCH];
  std::size_t n = 0;
  for (; n < BATCH; ++n) {
    i = live(i);
    if (i >= hi) break;
    batch[n] = members_[i];
    unknown[n] = alike_[i] == ALIKE_UNKNOWN;
    ++i;
  }
  for (std::size_t j = 0; j < n; ++j) {
    const char* r = reinterpret_cast<const char*>(batch[j]);
    __builtin_prefetch(r);
    __builtin_prefetch(r + sizeof(Statement) - 1);
  }
  const InsnDetail* details[BATCH];
  for (std::size_t j = 0; j < n; ++j) {
    details[j] = unknown[j] ? batch[j]->insn() : nullptr;
    if (details[j]) {
      __builtin_prefetch(details[j]);
      __builtin_prefetch(reinterpret_cast<const char*>(details[j]) + sizeof(InsnDetail) - 1);
    }
  }
  for (std::size_t j = 0; j < n; ++j) {
    if (!details[j]) continue;
    const char* o = reinterpret_cast<const char*>(details[j]->operands);
    for (std::size_t b = 0; b < details[j]->operand_count * sizeof(Operand); b += 64) __builtin_prefetch(o + b);
  }
  for (std::size_t j = 0; j < n; ++j) {
    if (!details[j]) continue;
    for (std::uint32_t k = 0; k < details[j]->operand_count; ++k) {
      __builtin_prefetch(details[j]->operands[k].text.data());
    }
  }
  return i;
}
