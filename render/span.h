// A view of `size` elements at `data`: how the frame's units take their
// inputs and outputs, so that each unit says exactly what it reads and
// writes and can check it before touching a byte.
#pragma once

#include <cstddef>
#include <vector>

namespace rigweave {

template <class T>
struct Span {
  T* data = nullptr;
  size_t size = 0;
  Span() = default;
  Span(T* d, size_t n) : data(d), size(n) {}
  template <class U>
  Span(std::vector<U>& v) : data(v.data()), size(v.size()) {}
  template <class U>
  Span(const std::vector<U>& v) : data(v.data()), size(v.size()) {}
  T& operator[](size_t i) const { return data[i]; }
};

// Whether `output` may be written while `input` is read element by element:
// the same elements (in place) or none in common.
template <class In, class Out>
bool SameOrApart(const Span<In>& input, const Span<Out>& output) {
  const auto* inBegin = reinterpret_cast<const char*>(input.data);
  const auto* outBegin = reinterpret_cast<const char*>(output.data);
  const char* inEnd = inBegin + input.size * sizeof(In);
  const char* outEnd = outBegin + output.size * sizeof(Out);
  return inBegin == outBegin || inEnd <= outBegin || outEnd <= inBegin;
}

}  // namespace rigweave
