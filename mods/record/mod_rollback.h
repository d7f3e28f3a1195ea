#pragma once
// A mod goes into the game whole or not at all: when one of its files cannot be placed,
// every file it placed in this run is put back as it was before the run (the original
// from the backups, the pack's earlier bytes, or nothing) and the folders it made go,
// so that the record holds nothing of it from this run.
//
// Each step is made before the line that says so: a kill in the middle leaves paths the
// record still names, holding bytes it knows (the original, the pack's earlier or later
// bytes), and the next run or uninstall finishes the job.

// Takes the current mod (SetRecordedMod) back out. Returns the files put back; those
// that could not be (another program took hold of them meanwhile) stay recorded and are
// added to left, logged each.
int RollBackRecordedMod(int& left);
// After the current mod went in whole: the pack's earlier bytes kept for a rollback go.
void ForgetKeptEarlierBytes();
