// SPDX-License-Identifier: MIT
// Memory that may not be had, asked for without exceptions.
#pragma once

#include <stdlib.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

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
// it cannot allocate the exception and ends the process. A T aligned beyond
// what malloc gives (a page, for the buffers the kernel copies into) is
// allocated at its alignment.
template <typename T, typename... Arguments>
MallocPtr<T> NewOrNull(Arguments&&... arguments) {
  void* memory = nullptr;
  if constexpr (alignof(T) > alignof(std::max_align_t)) {
    if (posix_memalign(&memory, alignof(T), sizeof(T)) != 0) memory = nullptr;
  } else {
    memory = std::malloc(sizeof(T));
  }
  return MallocPtr<T>(memory == nullptr ? nullptr
                                        : new (memory) T(std::forward<Arguments>(arguments)...));
}

}  // namespace korrin
