// Inside the commonization's fast search: an index of chain members grouped
// by a 64-bit hash (the key of an instruction, or of a window of several),
// each group in chain order, for the searches that visit the members of
// one group between two points of the chain. Built once from all members,
// then added to as the emission links in copies; members found dead are
// passed over from then on.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "driver/memory.h"
#include "source/statement.h"

enum class Visit { next, dead, stop };

// What is known of a member of the index being alike (instructions_alike)
// the first member of its group: the details compared stay as they are, so
// once tested, a member never needs its detail read again for this.
enum Alike : std::uint8_t { ALIKE_UNKNOWN, ALIKE_YES, ALIKE_NO };

// Members grouped by a hash, each group in chain order. A group is a range
// of the sorted array built at the start, plus the members added later. A
// member found dead (it can never be of use again) is passed over from then
// on; `skip` finds the next live entry in near constant time.
class SortedIndex {
 public:
  struct Entry {
    std::uint64_t hash;
    Statement* member;
  };

  // With fetch_ahead, a visit asks for the memory of the next few members
  // before it needs it (fetch_batch): for a search that visits many members
  // of a group. Without, for one that mostly stops at the first.
  explicit SortedIndex(bool fetch_ahead) : fetch_ahead_(fetch_ahead) {}

  // `entries` in chain order (consumed). A counting sort on the top bits of
  // the hash keeps the chain order and leaves small buckets to sort by the
  // whole hash. The sorted members stay, and beside them each group's hash
  // and first position, with where each bucket's groups begin, to find a
  // group quickly.
  void build(LargeVector<Entry>&& given);

  // The group's first member in the sorted array (dead or alive), or
  // nullptr when the array holds none of the group.
  Statement* first_of_group(std::uint64_t hash) const {
    auto [lo, hi] = group(hash);
    return lo < hi ? members_[lo] : nullptr;
  }

  void add(std::uint64_t hash, Statement* member) {
    std::vector<Statement*>& list = added_[hash];
    auto at = std::partition_point(list.begin(), list.end(),
                                   [&](const Statement* s) { return s->order < member->order; });
    if (at != list.end() && *at == member) return;
    list.insert(at, member);
  }

  // Whether the group has at least `least` entries with after < order <
  // before (dead ones are counted too). A group smaller than that is
  // answered from its size alone.
  bool has_between(std::uint64_t hash, std::uint64_t after, std::uint64_t before,
                   std::size_t least) const {
    auto [lo, hi] = group(hash);
    auto a = added_.find(hash);
    const std::vector<Statement*>* extra = a != added_.end() ? &a->second : nullptr;
    if (hi - lo + (extra ? extra->size() : 0) < least) return false;
    std::size_t n = position(lo, hi, before) - position(lo, hi, after + 1);
    if (extra) n += position(*extra, before) - position(*extra, after + 1);
    return n >= least;
  }

  // Calls visit on each live member of the group with after < order <
  // before, in chain order, until it returns Visit::stop; a member for which
  // it returns Visit::dead is never visited again. With each member of the
  // sorted array, visit gets the member's byte in alike_ (what is known of
  // it being alike the group's first member); with an added one, nullptr.
  template <typename F>
  void visit_between(std::uint64_t hash, std::uint64_t after, std::uint64_t before, F visit) {
    auto [lo, hi] = group(hash);
    std::size_t i = position(lo, hi, after + 1);
    auto a = added_.find(hash);
    std::vector<Statement*>* extra = a != added_.end() ? &a->second : nullptr;
    std::size_t k = extra ? position(*extra, after + 1) : 0;
    std::size_t fetched = i;  // the members before this one were asked for
    while (true) {
      i = live(i);
      if (fetch_ahead_ && i >= fetched && i < hi) fetched = fetch_batch(i, hi);
      Statement* s = i < hi ? members_[i] : nullptr;
      Statement* t = extra && k < extra->size() ? (*extra)[k] : nullptr;
      bool from_extra = t && (!s || t->order < s->order);
      Statement* m = from_extra ? t : s;
      if (!m || m->order >= before) return;
      Visit v = visit(m, from_extra ? nullptr : &alike_[i]);
      if (v == Visit::stop) return;
      if (from_extra) {
        if (v == Visit::dead) {
          extra->erase(extra->begin() + static_cast<std::ptrdiff_t>(k));
        } else {
          ++k;
        }
      } else {
        if (v == Visit::dead) skip_[i] = static_cast<std::uint32_t>(i + 1);
        ++i;
      }
    }
  }

 private:
  std::size_t bucket_of(std::uint64_t hash) const { return static_cast<std::size_t>(hash >> bucket_shift_); }

  // The positions [lo, hi) of the group's members; an empty range when
  // there is no such group.
  std::pair<std::size_t, std::size_t> group(std::uint64_t hash) const {
    if (group_bucket_.empty()) return {0, 0};
    std::size_t b = bucket_of(hash);
    auto first = group_hash_.begin() + group_bucket_[b];
    auto last = group_hash_.begin() + group_bucket_[b + 1];
    auto at = std::lower_bound(first, last, hash);
    if (at == last || *at != hash) return {0, 0};
    std::size_t g = static_cast<std::size_t>(at - group_hash_.begin());
    return {group_begin_[g], group_begin_[g + 1]};
  }

  // First index in [lo, hi) whose member's order is at least `order`.
  std::size_t position(std::size_t lo, std::size_t hi, std::uint64_t order) const {
    auto at = std::partition_point(members_.begin() + static_cast<std::ptrdiff_t>(lo),
                                   members_.begin() + static_cast<std::ptrdiff_t>(hi),
                                   [&](const Statement* s) { return s->order < order; });
    return static_cast<std::size_t>(at - members_.begin());
  }
  static std::size_t position(const std::vector<Statement*>& list, std::uint64_t order) {
    auto at = std::partition_point(list.begin(), list.end(),
                                   [&](const Statement* s) { return s->order < order; });
    return static_cast<std::size_t>(at - list.begin());
  }

  // Asks for the memory the visits of the next BATCH live members from
  // position i on will read: their records and, for a member whose alike_
  // verdict is still unknown, its detail, operands and operand texts. Each
  // step reads what the step before asked for, so every step waits for
  // memory once rather than once a member, and a member met for the first
  // time is then read from the cache. Returns the position after the batch.
  std::size_t fetch_batch(std::size_t i, std::size_t hi);

  // The first entry at or after i not known to be dead.
  std::size_t live(std::size_t i) {
    std::size_t root = i;
    while (skip_[root] != root) root = skip_[root];
    while (skip_[i] != root) {
      std::size_t next = skip_[i];
      skip_[i] = static_cast<std::uint32_t>(root);
      i = next;
    }
    return root;
  }

  bool fetch_ahead_;
  int bucket_shift_ = 48;       // a hash's bucket is its top bits
  std::size_t buckets_ = 0;
  // The members sorted by hash, each group in chain order; the groups in
  // the same order: each one's hash and first position (one more position
  // closes the last group), and where each bucket's groups begin.
  LargeVector<Statement*> members_;
  LargeVector<std::uint64_t> group_hash_;
  LargeVector<std::uint32_t> group_begin_;
  LargeVector<std::uint32_t> group_bucket_;
  LargeVector<std::uint32_t> skip_;
  LargeVector<std::uint8_t> alike_;
  std::unordered_map<std::uint64_t, std::vector<Statement*>> added_;
};
