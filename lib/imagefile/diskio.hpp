// The random-access disk layer: nine disk streams opened by logical name, typed items of the
// current file mode, addressing by item and by (record, element, record length), and
// conversion of numbers read from files of another machine's number format.
//
// Disk streams are numbered 1-9. Every failure except end of file during a read ends the run
// through fatal() (exit status 255) or, for a bad status, an existing NEW file or a full
// table, fatal_level1() (exit status 1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace imagefile {

inline constexpr int max_disk_streams = 9;

// Status codes of qqopen.
enum OpenStatus : int {
  status_unknown = 1,   // created or truncated, read and write
  status_scratch = 2,   // as UNKNOWN, the name removed from the directory at once
  status_old = 3,       // must exist; read and write
  status_new = 4,       // created; refused when the file exists (unless IMAGE_OPEN=UNKNOWN)
  status_readonly = 5,  // must exist; read only
};

// File modes and their item sizes: 0 bytes (1), 1 16-bit integers (2), 2 reals (4),
// 3 complex 16-bit (4), 4 complex reals (8), 6 32-bit integers (4).
// Number-format codes of a machine stamp: 1 big-endian IEEE, 2 VAX F, 4 little-endian IEEE,
// 5 Convex native; 0 = no conversion.

// Opens logical name `lognam` with the status given by the first letter of `atbute` (upper
// case taken): U, S, O, N or R. Returns the disk stream.
int qopen(std::string_view lognam, std::string_view atbute);
// Opens logical name `lognam` with status code istat 1-5. Returns the disk stream.
int qqopen(std::string_view lognam, int istat);

// The resolved file name of `lognam` and the size of its file in bytes. When disk stream
// `iunit` is not open, an open stream holding that file is looked for and `iunit` set to it;
// when there is none, length = -1.
void qqinq(int& iunit, std::string_view lognam, std::string& filnam, std::int64_t& length);

// Sets the file mode (0-4 or 6); returns the bytes per item.
int qmode(int iunit, int mode);

// Moves to item ((irec - 1) * lrecl + iel - 1) of the current mode.
void qseek(int iunit, std::int64_t irec, std::int64_t iel, std::int64_t lrecl);
// Moves forward / backward n items.
void qskip(int iunit, std::int64_t n);
void qback(int iunit, std::int64_t n);
// Current position in items (byte position / item size); -1 when the stream is not open.
std::int64_t qlocate(int iunit);

// Reads nitems items of the current mode into buffer (which must hold them), converting
// foreign numbers in place. Returns 0, or -1 at end of file with the items read so far in the
// buffer.
int qread(int iunit, void* buffer, std::int64_t nitems);
inline int qreadi(int iunit, std::int32_t* buffer, std::int64_t nitems) { return qread(iunit, buffer, nitems); }
inline int qreadr(int iunit, float* buffer, std::int64_t nitems) { return qread(iunit, buffer, nitems); }
inline int qreadq(int iunit, float* buffer, std::int64_t nitems) { return qread(iunit, buffer, nitems); }

// Writes nitems items of the current mode from buffer, in the machine's own format.
void qwrite(int iunit, const void* buffer, std::int64_t nitems);
inline void qwriti(int iunit, const std::int32_t* buffer, std::int64_t nitems) { qwrite(iunit, buffer, nitems); }
inline void qwritr(int iunit, const float* buffer, std::int64_t nitems) { qwrite(iunit, buffer, nitems); }
inline void qwritq(int iunit, const float* buffer, std::int64_t nitems) { qwrite(iunit, buffer, nitems); }

// Reads s.size() bytes into s: 0, -1 at end of file with nothing read, or the number of bytes
// read after a short read.
int qreadc(int iunit, std::string& s);
// Writes the bytes of s.
void qwritc(int iunit, std::string_view s);

// Reads the machine stamp at word ipos (byte 4 * ipos) and sets the stream's conversion flags
// (NATIVEMAP set: nothing is read, result 0; CONVERT_FROM set: its value stands for the stamp).
// Returns (stamp byte 1 with its low 4 bits cleared) + real-format code; 0 = no stamp.
int qrarch(int iunit, int ipos);
// Writes this machine's stamp 0x44 0x41 0x00 0x00 at word ipos.
void qwarch(int iunit, int ipos);

// Closes the stream and frees its slot.
void qclose(int iunit);

}  // namespace imagefile
