// The assignment file: reading it into the assignment table, and the
// table writers that look attractor sets up by name.
//
// The table itself (descriptions/assign_db.h) sits below hair generation,
// where the attractor and curve attractor sets live; what finds sets by
// name is here, above both.
#pragma once

#include "descriptions/assign_db.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// Reads an assignment file into the table. 0 without a table, when the
// file cannot be opened (an infoError message) or memory runs out; 1
// otherwise. Syntax errors are reported line by line, the reading goes
// on, and at the end FurEFailed "Parsing failed for data file <path>" is
// thrown. Failures of the table itself (FurEFailed) pass through.
int assdb_readfile(const char* path);

// Each finds the record of the model or creates it (as the writers of
// assign_db.h do) and adds the named set; a set that does not exist
// gives a warning and nothing is assigned (0). A null name does nothing (0).
int assdb_assign_attract(const char* attractor, hair_name* model);
int assdb_assign_curve_attract(const char* curve_attractor, hair_name* model);

KORVO_EXPORT_END
