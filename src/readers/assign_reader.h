// The assignment file reader: the grammar (assign_parser.y) and the
// scanner (assign_scanner.l) behind assdb_readfile, and the reader whose
// calls the grammar's actions are (assign_reader.cpp). Not part of the
// exported interface.
#pragma once

#include <cstdio>
#include <exception>
#include <string>

#include "readers/scanner_support.h"

// What the statement being read assigns.
enum class assign_statement {
    none,
    hair,
    attract,
    curve_attract,
    exclude_both,
    exclude_smap,
    exclude_hair,
    area
};

// One read of an assignment file. The statement's head is kept while its
// list of models is read; each model is applied to the table as it comes.
class assign_reader {
  public:
    // A statement's head; takes the string (null for none).
    void begin_statement(assign_statement kind, char* item);
    // Applies the statement to one model, with the multiplier of an area
    // entry; takes the string. False when the table failed: the failure is
    // held and the parse must abort.
    bool apply(char* model, const float* mult);
    // The parser's error routine: the message, the line, the error flag.
    void syntax_error(const char* message);

    // The line counter the scanner advances.
    scan_position& position() { return position_; }
    bool had_error() const { return error_; }
    const std::exception_ptr& failure() const { return failure_; }

  private:
    scan_position position_;
    assign_statement kind_ = assign_statement::none;
    std::string item_;            // the statement's string: description, set or area group
    bool has_item_ = false;       // false for an area statement without group
    bool error_ = false;          // a syntax error was found
    std::exception_ptr failure_;  // a failure of the table, thrown on after the parse
};

// Parses the opened file into the assignment table. Returns false when a
// syntax error was found (each one reported as it was met). A failure of
// the table (FurEFailed) stops the parse and is thrown on once the
// scanner and the parser have released what they held.
bool assign_read_file(std::FILE* file);

// Runs the parser over file with a scanner of its own that counts lines
// in reader.position(); the parser's result (assign_scanner.l).
int assign_parse_file(std::FILE* file, assign_reader& reader);
