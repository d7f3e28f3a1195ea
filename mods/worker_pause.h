#pragma once
// Holds a worker at its next safe point while the user is asked a question. The
// worker is never frozen where it stands: it might hold the C runtime's heap lock
// or a file write half done, and the message box on the UI thread needs the heap.

void PauseWorkers();
void ResumeWorkers();

// Called by a worker between units of work; returns at once unless paused.
void WaitWhileWorkersPaused();

// True while a question holds the workers.
bool WorkersArePaused();
