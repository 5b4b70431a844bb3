// The listens that wait for the service, one a line in a file beside nimbo.log, so a
// crash, a restart or a day offline loses none. The line format is portable (tested
// natively and fuzzed); the file itself, its lock and its bound are the Win32 part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/track_ids.h"

namespace nimbo {

struct QueuedListen {
    int64_t listenedAt = 0;  // seconds since 1970 (UTC)
    int lengthSeconds = -1;  // -1 or 0: not known
    std::wstring artist, title, album;
    // Frozen with the rest: the service tells listens apart by their data, so a listen
    // sent again with other data would count twice.
    TrackIds ids;
    std::wstring playerVersion;
};

// "v1", listened_at, length, artist, title, album and a checksum of what precedes it,
// separated by tabs and ended by LF. The texts are UTF-8 with "\" and every byte below
// 0x20 escaped ("\\", "\09"), so no line break or tab is ever inside a field; a lone
// surrogate goes out as U+FFFD. A listen with IDs or a player version is a "v2" line:
// after the album come the ten texts of TrackIds in their order, the player version,
// then the checksum. Every other listen stays a "v1" line.
std::string queueLine(const QueuedListen& listen);

struct QueueContents {
    std::vector<QueuedListen> listens;  // in the file's order
    size_t torn = 0;     // the last line, when it is no whole listen: a write cut short
    size_t skipped = 0;  // other lines that are no listen of ours (blank ones aside)
};

// The listens in a file's bytes. A line counts only when it is exactly what queueLine
// writes (a CR before its LF aside); a last line that is whole but lacks its LF counts.
QueueContents readQueue(const std::string& bytes);

// A rewrite of a queue file's bytes: for each listen of `gone` one line that is the
// very line queueLine gives for it goes, then the oldest listens past `most`. Every
// other line stays byte for byte and in its order, whether it is a listen, a line of a
// version this one does not know ("v3", from a newer Nimbo sharing the folder or before
// a downgrade) or a line damaged in the file: what this version cannot read is not its
// to delete. Blank lines go, and each line kept ends with an LF.
constexpr size_t kAllListens = size_t(-1);
struct QueueRewrite {
    std::string bytes;
    size_t removed = 0;  // lines of `gone`
    size_t dropped = 0;  // listens past `most`
};
QueueRewrite rewriteQueue(const std::string& bytes, const std::vector<QueuedListen>& gone,
                          size_t most = kAllListens);

// The checksum of the lines (FNV-1a, 32 bits).
uint32_t queueChecksum(const std::string& bytes);

// Win32 only, below.

// The most listens the file keeps: an append past it drops the oldest.
constexpr size_t kMaxQueuedListens = 10000;

// A queue file beside nimbo.log, one a target ("nimbo-listens.txt" is ListenBrainz's);
// empty when the settings' folder is not known.
std::wstring listenQueuePath(const wchar_t* fileName = L"nimbo-listens.txt");

enum class QueueStatus {
    done,
    busy,    // another Winamp held the file for longer than 2 s, or quit came: nothing was done
    failed,  // the file could not be read or written (an append may have left a torn line)
};

// Each holds the lock of `path` + ".lock" (across processes, sessions and PCs)
// around its read, change and write, and never throws.

// Adds one listen at the end and flushes it to the disk. When the file already holds
// kMaxQueuedListens, it is rewritten without the oldest listens and `dropped` says how
// many went (lines that are no listen of this version stay, as rewriteQueue keeps
// them); otherwise nothing before the new line is touched.
QueueStatus appendListen(const std::wstring& path, const QueuedListen& listen, size_t& dropped);

// The file's listens; a file that is not there is an empty queue, one that cannot be
// read is `failed`, never an empty queue.
QueueStatus loadListens(const std::wstring& path, QueueContents& contents);

// Takes out the listens the service has dealt with, as loadListens gave them (each
// removes one line that is that very listen, as rewriteQueue does), through a
// temporary file and one rename; listens appended meanwhile by another Winamp stay, and
// so does every line this version cannot read. Nothing to take out leaves the file as
// it is. A rewrite that failed leaves Windows' error code in `error` when given.
QueueStatus removeListens(const std::wstring& path, const std::vector<QueuedListen>& gone,
                          unsigned long* error = nullptr);

// A lane's claim on a queue for one turn (load, send, removal), so two Winamps on one
// folder never send the same batch: a second byte range of the same lock file, taken
// without waiting and held until released. The calls above keep their own short range,
// so an append never waits behind another's exchange.
class QueueTurn {
  public:
    QueueTurn() = default;
    ~QueueTurn() { release(); }
    QueueTurn(const QueueTurn&) = delete;
    QueueTurn& operator=(const QueueTurn&) = delete;
    // False only while another holds the claim of `path`; a lock file that cannot be
    // opened claims nothing and stops nothing (each call then fails on its own).
    bool claim(const std::wstring& path);
    void release();

  private:
    void* file_ = nullptr;  // the lock file's handle while the range is held
};

}  // namespace nimbo
