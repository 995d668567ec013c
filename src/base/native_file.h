// The operating system's handle of an open file, pipe or stream.
#pragma once

namespace hushmark {

#ifdef _WIN32
using NativeFile = void*;
#else
using NativeFile = int;
#endif

}  // namespace hushmark
