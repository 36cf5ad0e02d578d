#pragma once

// Keeps what passes through this process's memory (the token's PIN) out of
// core files, as ssh-agent and gpg-agent do: the process is made
// non-dumpable and its core size limit 0. True when both took.
bool DisableCoreDumps();
