// SPDX-License-Identifier: MIT
// Memory that may not be had, asked for without exceptions.
#pragma once

#include <cstdlib>
#include <memory>
#include <new>

namespace korrin {

template <typename T>
struct MallocDeleter {
  void operator()(T* object) const {
    object->~T();
    std::free(object);
  }
};
template <typename T>
using MallocPtr = std::unique_ptr<T, MallocDeleter<T>>;

// A new T, or null when memory is short. Not `new (std::nothrow)`: the C++
// library makes that throw and catch inside, and when memory is that short
// it cannot allocate the exception and ends the process.
template <typename T>
MallocPtr<T> NewOrNull() {
  void* const memory = std::malloc(sizeof(T));
  return MallocPtr<T>(memory == nullptr ? nullptr : new (memory) T);
}

}  // namespace korrin
