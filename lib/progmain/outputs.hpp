// The output files of one run, and the removal of those that a failed run leaves unfinished.
//
// A program names each file it is about to create, and says when the file holds everything the
// run meant to write to it:
//
//   progmain::begin_output("near.dat");   // just before the file is created
//   ... write near.dat ...
//   progmain::finish_output("near.dat");  // complete: it stays whatever happens next
//
// Every end of a run that fails removes the files begun and not finished: run_main ending with
// a non-zero status, a read error or any other exception, and the image library ending the run
// after an error (imagefile::end_run). A file that already existed when begin_output was called
// is not the run's own and is never removed, whatever happens to the run.
//
// The image library begins the new image files it creates itself (imopen "NEW", "UNKNOWN") and
// finishes each one when it is closed without error (imclose). A program that wants several
// files to stand or fall together begins them itself before they are opened, and finishes them
// together once all are written; the library then leaves finishing them to the program.
//
// Paths are compared as the strings given, so name a file the same way each time.
#pragma once

#include <string>

namespace progmain {

// Who says that a begun output is complete.
enum class FinishedBy {
  program,  // finish_output()
  close,    // the image library, at a close without error (output_closed())
};

// The run is about to create `path`: when nothing exists there yet, the file is the run's own
// until it is finished. A path already begun keeps its first entry.
void begin_output(const std::string& path, FinishedBy by = FinishedBy::program);
// The file at `path` is complete; a failed end of the run leaves it.
void finish_output(const std::string& path);
// The image library closed `path` without error: finishes it when it was begun with
// FinishedBy::close.
void output_closed(const std::string& path);

// Removes every begun, unfinished file the run created, and forgets them all. Called on every
// failing end of a run; a program need not call it itself.
void remove_unfinished_outputs();

// Forgets every output without removing anything (tests and fuzz targets that run many times
// in one process).
void forget_outputs();

}  // namespace progmain
