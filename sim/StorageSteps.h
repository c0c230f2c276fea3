#pragma once

#include <cstdint>
#include <functional>

namespace sim {

// Every step by which a node changes what it keeps on disk passes here first: a block written
// to a sector, a sector flushed, the temporary of a replaced file written and flushed, its
// rename, a folder made or moved. The steps are counted, and tests may take a hand in them.

// A test's hand in the storage steps of this process: called before each step with the
// step's name. false fails the step as a full disk would; an exception thrown from it leaves
// the files as a process killed just before the step would. Empty: none.
using StorageStepHook = std::function<bool(const char* step)>;
void SetStorageStepHook(StorageStepHook hook);

// From the nth storage step of this process on (1: the next one), every step fails as a full
// disk would; 0 lets them succeed again.
void FailStorageWritesFrom(int nth);

// What the storage steps of this process have done so far.
struct StorageTally {
    std::uint64_t steps = 0;
    std::uint64_t replacedFiles = 0;
    // Bytes handed to the file system: blocks, and the contents of replaced files without
    // their holes.
    std::uint64_t bytesWritten = 0;
};
StorageTally StorageTallySoFar();

// For the storage code: whether the step may go ahead; false with errno ENOSPC when not.
bool StorageStep(const char* step);
void CountReplacedFile();
void CountBytesWritten(std::uint64_t bytes);

} // namespace sim
