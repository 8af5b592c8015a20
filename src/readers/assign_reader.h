// The assignment file reader: the generated scanner and parser behind
// assdb_readfile. Not part of the exported interface.
#pragma once

#include <cstdio>

// Parses the opened file into the assignment table. Returns false when a
// syntax error was found (each one reported as it was met). A failure of
// the table (FurEFailed) stops the parse and is thrown on once the
// scanner and the parser have released what they held.
bool assign_read_file(std::FILE* file);

// --- Scanner (assign_scanner.l) ------------------------------------------------------

// Starts scanning file from its current position at line 1.
void assign_scanner_begin(std::FILE* file);
// Releases the scanner's buffers; the next begin starts afresh.
void assign_scanner_end();
// The line the scanner is on.
int assign_scanner_line();
