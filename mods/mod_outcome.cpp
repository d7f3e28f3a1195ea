#include "mods/mod_outcome.h"

ModOutcome ModOutcomes[ModCount];
bool SetupCancelled = false;
