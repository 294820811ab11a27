// The command line: every argument is read once, in order, into the settings;
// problems are collected in cmdline_state and the first of them, in a fixed
// order of precedence, is reported after the last argument.
#pragma once

// Prints the banner (no argument) or the version text (-V) and ends the run
// with status 0 by throwing RunExit; reports command-line errors through
// check_command_line. Returns only when the run is to go on.
void parse_command_line(int argc, const char* const* argv);
void check_command_line();

// The banner and the version text, as printed on standard output.
void print_banner();
void print_version();
