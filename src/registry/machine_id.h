#pragma once
// "getPCIdentification": the operating system's ProductId.

// Writes the ProductId of the version key (or, when it is missing there, the
// first one found below it), without a line end; nothing when there is none.
void runGetPcIdentification();
