#pragma once
// The local file a try writes: made once the first bytes are in, cut back to the
// bytes a resume continues, and written under the try's lock, so that once the waiting
// side has given a try up it never touches the file again. Bytes read while a question
// holds the download are kept in memory and written once it is answered.
#include "mods/download/transfer.h"

enum class Written { Yes, Failed, Abandoned };

// Under the lock: ends the file, keeping it when it may be continued.
void CloseLocalFile(Transfer& t);
// A new file, or the one on disk cut back to the bytes that are continued.
bool OpenLocalFile(Transfer& t, bool append);
// While the workers are paused a chunk is held, unless the held bytes are at their
// bound or the body has ended (count 0): then the reading waits for the answer too.
Written WriteChunk(Transfer& t, DWORD count);
// Called by the waiting side: once the question is answered, the held bytes are
// written at once, whatever read the transfer thread is blocked in.
void WriteHeldBytes(Transfer& t);
