// The scene file reader: the generated scanner and parser behind
// scndb_init. Not part of the exported interface.
#pragma once

#include <cstdio>

// A vector of the file: four numbers, or three and w = 1.
struct scene_vec {
    float v[4];
};
// One polygon corner: vertex, normal and texture-coordinate indices.
struct scene_corner {
    int v, n, t;
};

// Parses the opened file into the camera, light and model databases of
// slot which. Returns false when a grammar error was found. A failure
// raised while a statement is applied (FurEFailed from the name table)
// stops the parse and is thrown on once the scanner and the parser have
// released what they held.
bool scene_read_file(std::FILE* file, int which);

// --- Scanner (scene_scanner.l) ---------------------------------------------------------

// Starts scanning file from its current position at line 1.
void scene_scanner_begin(std::FILE* file);
// Releases the scanner's buffers; the next begin starts afresh.
void scene_scanner_end();
// The line the scanner is on.
int scene_scanner_line();
