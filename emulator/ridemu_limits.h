// The emulator's limits, all in one place: what one image, process, path,
// pipe or run may take. The table of limits in emulator/README.md shows each
// of them (a test compares the two).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ridemu::detail {

// ---- images and their processes
constexpr size_t kMaxImageFile = 64u << 20;       // bytes of an image file
constexpr uint64_t kMaxImageMemory = 256u << 20;  // bytes mapped for one image
constexpr size_t kMaxArgBytes = 256u << 10;       // argument strings and vector at start
constexpr int kMaxFds = 256;                      // descriptors per process

// ---- strings the kernel reads from a guest
constexpr size_t kMaxPath = 4096;  // a path, with its NUL
constexpr size_t kMaxLine = 4096;  // a run request line, with its NUL
constexpr size_t kMaxArg = 64u << 10;  // one argument of a spawn
constexpr uint32_t kMaxSpawnArgs = 1024;  // arguments of a spawn
constexpr int kMaxLinks = 40;  // symbolic links followed in one path

// ---- what one run may start and hold
constexpr size_t kMaxScript = 1u << 20;  // bytes of a script file
constexpr int kMaxDepth = 16;            // nesting of children
constexpr int kMaxScripts = 4096;        // scripts run in one run
constexpr size_t kPipeCapacity = 64u << 10;  // bytes buffered in one pipe
constexpr size_t kMaxFifos = 256;        // named pipes in one run
constexpr size_t kMaxStreams = 64;       // file streams open at once

// ---- what a whole run may take, all its processes together (the defaults
// of --max-memory, --max-disk and --max-processes)
constexpr uint64_t kDefaultMaxMemory = 512u << 20;  // guest memory mapped at once
constexpr uint64_t kDefaultMaxDisk = 256u << 20;    // bytes the run may add to its root
constexpr int kDefaultMaxProcesses = 4096;          // processes started
constexpr int64_t kDiskBlock = 4096;  // what each file or directory made counts besides its bytes

}  // namespace ridemu::detail
