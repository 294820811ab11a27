// Inside the commonization's fast search: counts of the matches of a key
// group's members, for the searches that only need to know whether the
// table would fill between two points of the chain.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "source/statement.h"

// How many members of a key group a reference matches between two points of
// the chain, for the searches that only need to know whether the table
// would fill there.
//
// Within a key group every member is identical to every other one as far
// as the instructions go (instructions_identical compares exactly what the
// key holds, up to a hash collision, and is an equivalence). What
// statements_identical asks of a member beyond that never changes during
// the walk for a member that is not deleted: no label, no inline assembly,
// shareable, and fitting where it stands (an emission puts its call right
// before each run it deletes, so the line that decides whether the line
// after a member is understood stays an instruction, and a call keeps the
// lines between it and its next chain member). So the matches of a
// reference identical to the group's first member are the members that
// matched that first member when the count was made, less those deleted
// since, plus the matching copies the emission added since.
class MatchCount {
 public:
  // The first member, which a reference must be identical to for the count
  // to hold for it; counted members are added in chain order, then finish.
  explicit MatchCount(Statement* first) : first_(first) {}
  Statement* first() const { return first_; }
  void add_member(const Statement* m) { orders_.push_back(m->order); }
  void finish() { deleted_.assign(orders_.size() + 1, 0); }

  void deleted(const Statement* m) {
    auto at = std::lower_bound(orders_.begin(), orders_.end(), m->order);
    if (at != orders_.end() && *at == m->order) {
      // A Fenwick tree of the deleted members, by position.
      for (std::size_t i = static_cast<std::size_t>(at - orders_.begin()) + 1; i < deleted_.size(); i += i & (~i + 1))
        ++deleted_[i];
      return;
    }
    auto copy = std::lower_bound(copies_.begin(), copies_.end(), m->order);
    if (copy != copies_.end() && *copy == m->order) copies_.erase(copy);
  }
  void copied(const Statement* m) {
    copies_.insert(std::upper_bound(copies_.begin(), copies_.end(), m->order), m->order);
  }

  // The matches with after < order < before.
  std::size_t between(std::uint64_t after, std::uint64_t before) const {
    std::size_t lo = static_cast<std::size_t>(std::upper_bound(orders_.begin(), orders_.end(), after) - orders_.begin());
    std::size_t hi = static_cast<std::size_t>(std::lower_bound(orders_.begin(), orders_.end(), before) - orders_.begin());
    std::size_t n = lo < hi ? hi - lo - (deleted_before(hi) - deleted_before(lo)) : 0;
    auto c_lo = std::upper_bound(copies_.begin(), copies_.end(), after);
    auto c_hi = std::lower_bound(copies_.begin(), copies_.end(), before);
    return n + static_cast<std::size_t>(c_lo < c_hi ? c_hi - c_lo : 0);
  }

 private:
  // Deleted members among the first `end` counted ones.
  std::size_t deleted_before(std::size_t end) const {
    std::size_t n = 0;
    for (std::size_t i = end; i > 0; i -= i & (~i + 1)) n += deleted_[i];
    return n;
  }

  Statement* first_;
  std::vector<std::uint64_t> orders_;  // the members counted, in chain order
  std::vector<std::uint32_t> deleted_;  // Fenwick tree over orders_
  std::vector<std::uint64_t> copies_;   // the matching copies added since, alive
};
