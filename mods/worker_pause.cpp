#include "mods/worker_pause.h"

#include <windows.h>
#include <atomic>

static std::atomic<bool> pauseRequested{false};
static HANDLE resumeGate;  // manual-reset, signalled while the workers may run
static INIT_ONCE gateOnce = INIT_ONCE_STATIC_INIT;

static BOOL CALLBACK CreateGate(PINIT_ONCE, PVOID, PVOID*)
{
    resumeGate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    return resumeGate != nullptr;
}

static HANDLE Gate()
{
    InitOnceExecuteOnce(&gateOnce, CreateGate, nullptr, nullptr);
    return resumeGate;
}

void PauseWorkers()
{
    ResetEvent(Gate());
    pauseRequested = true;
}

void ResumeWorkers()
{
    pauseRequested = false;
    SetEvent(Gate());
}

void WaitWhileWorkersPaused()
{
    // The flag keeps the hot path free of a kernel call per chunk.
    if (pauseRequested.load(std::memory_order_relaxed)) WaitForSingleObject(Gate(), INFINITE);
}

bool WorkersArePaused()
{
    return pauseRequested.load(std::memory_order_relaxed);
}
