// The image file library's view of the process: environment variables and logical names, the
// command line, the user, file existence, the level-filtered message printer and the one error
// routine that ends a run.
//
// Every message of the library goes to its report stream (standard output unless a test sets
// another one) and every end of a run goes through end_run(), which flushes both standard
// streams first, so what was written stays written.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace imagefile {

// The value of environment variable `name` (trailing blanks of the name removed, letter case
// kept), without trailing blanks; empty when the variable is not set or blank.
std::string ugtenv(std::string_view name);

// Command-line argument i (0 = the command as invoked); empty when there is no such argument.
// Taken from the arguments given to set_arguments(), else from the process itself.
std::string ugtarg(int i);

// Lets a program (or a test) hand its argv to the library instead of the process lookup.
void set_arguments(std::vector<std::string> args);

// The user name: environment variable USER, or LOGNAME when USER is blank.
std::string ugtuid();

// True when the file exists; `name` is first looked up as an environment variable and, when
// that is blank, used itself as the file name.
bool envexs(std::string_view name);

// Length of `s` without trailing blanks and trailing zero bytes.
int lenstr(std::string_view s);
// The same length; trailing zero bytes of `s` become blanks.
int numchars(std::string& s);

// Letters a-z to upper / lower case in place.
void envupc(std::string& s);
void envlwc(std::string& s);

// Level-filtered printing. The first call of a run only sets the print level to `level`;
// later calls print when level <= print level: the message without trailing blanks, each line
// with one leading blank, cut into a first line of 131 characters and further lines of 130.
void qprint(int level, std::string_view message);
// The current print level, -1 while unset.
int qprlvl();

// The error routine. istat -1, 0 or 1: report "<program>:  <message>" and end the run (exit
// status 255 for -1 and 1 for 0 and 1: a failed run never ends with 0); for -1 the text of the
// last system error is printed first. istat 2: a warning block, then return. Other values:
// the message, then return.
void enverr(int istat, std::string_view message);
// enverr(-1, message): prints and ends with exit status 255.
[[noreturn]] void fatal(std::string_view message);
// enverr(1, message): level-1 error, ends with exit status 1.
[[noreturn]] void fatal_level1(std::string_view message);

// The program name: command-line argument 0 cut to 20 characters, without directory and
// extension ("/usr/local/bin/sidesplit" -> "sides").
std::string envpnm();

// Prints the " Times: ..." line when the timer was started, then (re)starts it.
void getelapsed();

// Ends the run now with `status`, flushing standard output and standard error first. A
// non-zero status also writes one line on standard error naming the program, the file the
// library was working on and the failure it reported ("mapflat: in.map: IRDHDR: End-of-File
// error !!!"), and removes the outputs the run began and did not finish (progmain/outputs.hpp).
[[noreturn]] void end_run(int status);
// The file the library is working on, and the failure about to end the run: what end_run's
// line on standard error names. Every routine that can end the run sets them.
void note_file(std::string_view file);
void note_failure(std::string_view message);
// An in-process caller (a fuzz target) may have end_run call this instead of ending the
// process; the handler must not return (it throws). nullptr restores the plain exit.
using EndRunHandler = void (*)(int status);
void set_end_run_handler(EndRunHandler handler);
// A stop after an error: the stop text (if any) on standard error, then exit status 1.
[[noreturn]] void stop_run(std::string_view stop_text = {});

// Where the library's messages go (standard output by default; death tests point it at
// standard error so that the expected output can be matched).
std::ostream& report_stream();
void set_report_stream(std::ostream& out);

}  // namespace imagefile
