#include "StorageSteps.h"

#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>

namespace sim {

namespace {

// Steps still allowed before the failure seam fails them; negative: no limit.
std::atomic<int> stepsBeforeFailure{-1};

std::atomic<std::uint64_t> steps{0};
std::atomic<std::uint64_t> replacedFiles{0};
std::atomic<std::uint64_t> bytesWritten{0};

std::mutex hookMutex;
std::shared_ptr<const StorageStepHook> hook; // guarded by hookMutex
std::atomic<bool> hooked{false};

std::shared_ptr<const StorageStepHook> currentHook() {
    if (!hooked.load())
        return nullptr;
    std::lock_guard<std::mutex> lock(hookMutex);
    return hook;
}

bool failureSeamAllows() {
    int left = stepsBeforeFailure.load();
    while (left > 0)
        if (stepsBeforeFailure.compare_exchange_weak(left, left - 1))
            return true;
    return left < 0;
}

} // namespace

void SetStorageStepHook(StorageStepHook newHook) {
    std::lock_guard<std::mutex> lock(hookMutex);
    hook = newHook ? std::make_shared<const StorageStepHook>(std::move(newHook)) : nullptr;
    hooked = hook != nullptr;
}

void FailStorageWritesFrom(int nth) {
    stepsBeforeFailure.store(nth <= 0 ? -1 : nth - 1);
}

StorageTally StorageTallySoFar() {
    return {steps.load(), replacedFiles.load(), bytesWritten.load()};
}

bool StorageStep(const char* step) {
    ++steps;
    bool allowed = failureSeamAllows();
    if (const auto seam = currentHook())
        allowed = (*seam)(step) && allowed;
    if (!allowed)
        errno = ENOSPC;
    return allowed;
}

void CountReplacedFile() {
    ++replacedFiles;
}

void CountBytesWritten(std::uint64_t bytes) {
    bytesWritten += bytes;
}

} // namespace sim
