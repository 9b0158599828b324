// Reading the disk in a drive back and comparing it with an image, after a
// write or when asked: the same fast pass and re-reads as a whole-disk read,
// then every sector against the image.
#pragma once

#include "engine/engine.h"

#include <utility>
#include <vector>

struct engine_verify_request {
    const char *port;
    int device;
    const unsigned char *image;  // d64_base_size bytes; may be d64_storage itself
    int retries;                 // re-reads of a sector that does not read cleanly
    int retry_once_per_pass;
    int framed_by_caller = 0;    // the caller logs the title and the ending word
};

struct engine_verify_result {
    int compared = 0;  // sectors compared: all of them when the read ended normally
    int matching = 0;
    std::vector<std::pair<int, int>> differing;   // read cleanly, other bytes than the image
    std::vector<std::pair<int, int>> unreadable;  // no clean read even after re-reads
};

// Failure text of a disk that does not match: "Disk does not match the image".

// Reads the disk with the whole-disk read (its cells and log lines come as a
// read's), then compares every sector: a sector that differs is painted
// ENGINE_CELL_DIFFERS and logged, one that did not read is logged, and the
// summary "Verified: N of M sectors match" goes to the log.  The image
// store holds what it held before afterwards.  Fails with
// ENGINE_ERROR_DISK_DIFFERS when any sector differs or did not read.  Calls
// ui->finished once; 1 when the disk matches the image.
int engine_verify_disk(const engine_ui *ui, const engine_verify_request *request,
                       engine_verify_result *result);
