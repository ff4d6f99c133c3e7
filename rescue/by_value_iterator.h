// Iteration over a container whose elements are made when they are asked for (its operator[]
// gives a value, decoded from what it keeps), so that a range-for goes through them as values.
#ifndef QUILLON_RESCUE_BY_VALUE_ITERATOR_H_
#define QUILLON_RESCUE_BY_VALUE_ITERATOR_H_

#include <cstddef>

namespace quillon::rescue {

template <typename Container, typename Value>
class ByValueIterator {
 public:
  ByValueIterator(const Container* container, size_t at) : container_(container), at_(at) {}
  Value operator*() const { return (*container_)[at_]; }
  ByValueIterator& operator++() { return ++at_, *this; }
  bool operator!=(const ByValueIterator& other) const { return at_ != other.at_; }

 private:
  const Container* container_;
  size_t at_;
};

}  // namespace quillon::rescue

#endif  // QUILLON_RESCUE_BY_VALUE_ITERATOR_H_
