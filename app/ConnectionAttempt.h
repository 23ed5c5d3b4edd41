#pragma once
#include "app/ConnectionValues.h"

// One connection attempt with the current values: port check, then either the direct entry, or
// resolve, fetch the index, download what the cache lacks, link and hand over to "run".
// Returns after "run" returns; failures throw Exception with the text for the user.
void runAttempt(ConnectionValues& values);
