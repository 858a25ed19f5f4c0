// --inspect: what a firmware file holds, printed without running anything
// else (no trigger, no search).
#ifndef FLASHDROP_CLI_INSPECT_H_
#define FLASHDROP_CLI_INSPECT_H_

// Prints the file's format and what it puts where: for a UF2 file each
// family (or the blocks without a family id) with its block count, payload
// bytes and address ranges; for an ELF, Intel HEX or raw binary file the
// address ranges it would be converted to. Returns the exit status: 0, or 1
// when the file is refused (the line saying why has been printed).
int inspect_file(const char* name);

#endif  // FLASHDROP_CLI_INSPECT_H_
